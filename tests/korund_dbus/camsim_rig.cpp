#include "camsim_rig.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

#include "support/wait.h"

namespace kortest
{

namespace
{

testsupport::TempDir& busDir()
{
    static testsupport::TempDir dir("korund-bus");
    return dir;
}

testsupport::PrivateBus& privateBus()
{
    static testsupport::PrivateBus bus(busDir().path());
    return bus;
}

} // namespace

GDBusConnection* CamsimRig::bus()
{
    privateBus();
    static GDBusConnection* connection = [] {
        GError* error = nullptr;
        GDBusConnection* c = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, &error);
        if (!c)
            throw std::runtime_error(std::string("no system bus: ") + error->message);
        g_dbus_connection_set_exit_on_close(c, FALSE);
        return c;
    }();
    return connection;
}

CamsimRig::CamsimRig(std::vector<std::string> extraArgs)
{
    bus();
    controlPath_ = dir_.path() + "/control";
    std::vector<std::string> argv = {CAMSIM, "--control-socket", controlPath_};
    argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
    camsim_ = std::make_unique<testsupport::ChildProcess>(
        argv, std::map<std::string, std::string>{{"CAMROOT", dir_.path() + "/root"}});
    const std::string ready = "camsim ready: control socket ";
    if (!camsim_->waitForOutput(ready, std::chrono::seconds(15)))
        throw std::runtime_error("camsim did not start: " + camsim_->output());
    // The socket camsim actually serves (it may resolve the path).
    std::string out = camsim_->output();
    auto at = out.find(ready) + ready.size();
    controlPath_ = out.substr(at, out.find('\n', at) - at);
}

CamsimRig::~CamsimRig()
{
    camsim_->stop();
    // Let the bus tell our connection that the names are gone.
    spinUntil([] { return false; }, 20);
}

nlohmann::json CamsimRig::control(const nlohmann::json& request) const
{
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    controlPath_.copy(addr.sun_path, sizeof addr.sun_path - 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        throw std::runtime_error("cannot reach camsim's control socket");
    }
    timeval tv{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    std::string line = request.dump() + "\n";
    if (write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
        close(fd);
        throw std::runtime_error("cannot write to camsim's control socket");
    }
    std::string reply;
    char buf[4096];
    while (reply.find('\n') == std::string::npos) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        reply.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    auto j = nlohmann::json::parse(reply);
    if (!j.value("ok", false))
        throw std::runtime_error("camsim refused " + request.dump() + ": " + reply);
    return j["result"];
}

nlohmann::json CamsimRig::takeCalls(bool withGets) const
{
    auto calls = control({{"cmd", "korund-calls"}, {"clear", true}});
    auto out = nlohmann::json::array();
    for (auto& c : calls)
        if (withGets || c["member"] != "Get")
            out.push_back(c);
    return out;
}

void CamsimRig::setProperty(const char* service, const char* path, const char* name,
                            GVariant* value)
{
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        bus(), service, path, "org.freedesktop.DBus.Properties", "Set",
        g_variant_new("(ssv)", "com.zeto.Configuration.Legacy", name, value), nullptr,
        G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
    if (!reply) {
        std::string msg = error->message;
        g_error_free(error);
        throw std::runtime_error("Set " + std::string(name) + " failed: " + msg);
    }
    g_variant_unref(reply);
}

bool spinUntil(const std::function<bool()>& done, int ms)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        g_usleep(2000);
    }
    return true;
}

} // namespace kortest
