#include <gtest/gtest.h>

#include "quillon_settings/bus_recorder.h"

namespace
{
// One CAMROOT for the whole program: the settings holders are process-wide.
[[maybe_unused]] auto* environment =
    ::testing::AddGlobalTestEnvironment(new quillontest::CamRootEnvironment);
} // namespace
