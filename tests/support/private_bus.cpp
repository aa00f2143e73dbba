#include "support/private_bus.h"

#include <cstdlib>
#include <stdexcept>

namespace testsupport {

PrivateBus::PrivateBus(const std::string& dir)
{
    std::string config = dir + "/system-bus.conf";
    writeFile(config,
              "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
              " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
              "<busconfig>\n"
              "  <type>system</type>\n"
              "  <listen>unix:dir=" + dir + "</listen>\n"
              "  <auth>EXTERNAL</auth>\n"
              "  <policy context=\"default\">\n"
              "    <allow user=\"*\"/><allow own=\"*\"/><allow send_destination=\"*\"/>"
              "<allow receive_sender=\"*\"/>\n"
              "  </policy>\n"
              "</busconfig>\n");
    daemon_ = std::make_unique<ChildProcess>(std::vector<std::string>{
        "/usr/bin/dbus-daemon", "--config-file=" + config, "--nofork", "--print-address"});
    if (!daemon_->waitForOutput("\n", std::chrono::seconds(10)))
        throw std::runtime_error("dbus-daemon did not start: " + daemon_->output());
    std::string out = daemon_->output();
    address_ = out.substr(0, out.find('\n'));
    if (address_.rfind("unix:", 0) != 0)
        throw std::runtime_error("unexpected dbus-daemon output: " + out);
    setenv("DBUS_SYSTEM_BUS_ADDRESS", address_.c_str(), 1);
}

PrivateBus::~PrivateBus()
{
    daemon_.reset();
    unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

} // namespace testsupport
