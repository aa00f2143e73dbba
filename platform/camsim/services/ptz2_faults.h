#pragma once

// Faults the PTZ2 service shows on request (control command "ptz2-fault"),
// for tests of its clients. One mode holds at a time. A new mode is one more
// row in kPtz2Faults plus the check of it where the service misbehaves.
#include <string>

namespace camsim
{

enum class Ptz2Fault {
    None,
    NoPresets,    // GetPresets is refused
    OddObjects,   // GetManagedObjects lists objects that are no proper channels
    NoFd,         // CreateSocketAsAutotracker answers a handle without the fd list; the
                  // connection stays until DestroySocket gives the handle back
    RefuseSocket, // CreateSocketAsAutotracker is refused
};

struct Ptz2FaultMode {
    const char* name;
    Ptz2Fault fault;
};

inline constexpr Ptz2FaultMode kPtz2Faults[] = {
    {"none", Ptz2Fault::None},
    {"nopresets", Ptz2Fault::NoPresets},
    {"odd-objects", Ptz2Fault::OddObjects},
    {"nofd", Ptz2Fault::NoFd},
    {"refuse-socket", Ptz2Fault::RefuseSocket},
};

inline bool ptz2FaultFromName(const std::string& name, Ptz2Fault& fault)
{
    for (auto& mode : kPtz2Faults)
        if (name == mode.name) {
            fault = mode.fault;
            return true;
        }
    return false;
}

// "none|nopresets|..." for the command's help.
inline std::string ptz2FaultNames()
{
    std::string names;
    for (auto& mode : kPtz2Faults)
        names += (names.empty() ? "" : "|") + std::string(mode.name);
    return names;
}

} // namespace camsim
