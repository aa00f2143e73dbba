#pragma once

#include <vector>

#include "quillon/inputs/vod/vod_object_type.h"

namespace quillon
{

// The classes a detection strategy filters by: each class of the detector
// (`model`) that the settings list under the same id and name, with the
// settings' threshold (the detector's when that is negative) and the
// settings' human and enabled flags. A detector class missing from the
// settings, or named otherwise there, is left out. Logs both counts, every
// mismatch, every merged class and differing sizes.
VodClassMap mergeVodClasses(const VodClassMap& model, const std::vector<VodObjectType>& settings);

} // namespace quillon
