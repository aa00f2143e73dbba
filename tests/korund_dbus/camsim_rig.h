#pragma once

#include <gio/gio.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/private_bus.h"
#include "support/temp_dir.h"

namespace kortest
{

// A private system bus (one per test process, created on first use) and a
// camsim with the bridge's services, started per rig.
class CamsimRig
{
public:
    explicit CamsimRig(std::vector<std::string> extraArgs = {});
    ~CamsimRig();

    // One request on camsim's control surface; returns "result" or throws.
    nlohmann::json control(const nlohmann::json& request) const;
    // Calls recorded by camsim's bridge services, excluding property reads
    // unless `withGets`; the log is emptied.
    nlohmann::json takeCalls(bool withGets = false) const;
    // The camera pose {pan, tilt, zoom, ...}.
    nlohmann::json pose() const { return control({{"cmd", "pose"}}); }
    // Sets a property on camsim directly (another client on the bus).
    void setProperty(const char* service, const char* path, const char* name, GVariant* value);

    static GDBusConnection* bus();

private:
    testsupport::TempDir dir_{"korund-dbus"};
    std::unique_ptr<testsupport::ChildProcess> camsim_;
    std::string controlPath_;
};

// Iterates the default main context until `done` or `ms` pass.
bool spinUntil(const std::function<bool()>& done, int ms = 5000);

} // namespace kortest
