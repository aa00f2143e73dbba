#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace quillon
{

// One object class of the detector as the daemon uses it: its score
// threshold (-1 lets every score pass), whether it is a person, and whether
// its detections are kept at all.
struct VodObjectType {
    std::int32_t id = -1;
    std::string name;
    std::int32_t threshold = -1;
    bool human = false;
    bool enabled = true;

    bool operator==(const VodObjectType&) const = default;
};

// Object classes by class id.
using VodClassMap = std::map<std::int32_t, VodObjectType>;

// "VOD: id:<id>: name:<name>, threshold:<t> human:<bool> enabled:<bool>"
std::string describe(const VodObjectType& type);

} // namespace quillon
