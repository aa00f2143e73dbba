#pragma once

#include <memory>
#include <string>

#include "support/child_process.h"
#include "support/temp_dir.h"

namespace testsupport {

// A private dbus-daemon configured as a system bus. The constructor points
// DBUS_SYSTEM_BUS_ADDRESS at it (for this process and the children it starts
// afterwards); the destructor stops the daemon. Create it before the first
// g_bus_get(G_BUS_TYPE_SYSTEM) of the test process.
class PrivateBus {
public:
    explicit PrivateBus(const std::string& dir);
    ~PrivateBus();

    const std::string& address() const { return address_; }

private:
    std::unique_ptr<ChildProcess> daemon_;
    std::string address_;
};

} // namespace testsupport
