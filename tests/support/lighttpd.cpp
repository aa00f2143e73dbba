#include "support/lighttpd.h"

#include <filesystem>
#include <stdexcept>

#include "support/http_client.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace testsupport {

Lighttpd::Lighttpd(const std::string& dir, const std::string& routes) : dir_(dir)
{
    std::filesystem::create_directories(dir + "/www");
    std::filesystem::create_directories(dir + "/tmp");
    port_ = freeTcpPort();
    std::string conf = dir + "/lighttpd.conf";
    writeFile(conf, "var.base = \"" + dir + "\"\n"
                    "server.modules = ( \"mod_access\", \"mod_alias\", \"mod_fastcgi\", \"mod_cgi\", "
                    "\"mod_accesslog\" )\n"
                    "server.bind = \"127.0.0.1\"\n"
                    "server.port = " + std::to_string(port_) + "\n"
                    "server.document-root = var.base + \"/www\"\n"
                    "server.errorlog = var.base + \"/error.log\"\n"
                    "server.upload-dirs = ( var.base + \"/tmp\" )\n"
                    "server.pid-file = var.base + \"/lighttpd.pid\"\n" +
                    routes + "\n");
    server_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/sbin/lighttpd", "-D", "-f", conf});
    bool up = waitFor([&] { return httpGet(url("/")).status != 0; }, std::chrono::seconds(10));
    if (!up)
        throw std::runtime_error("lighttpd did not start: " + server_->output() + errorLog());
}

Lighttpd::~Lighttpd() { server_.reset(); }

std::string Lighttpd::url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::string Lighttpd::errorLog() const
{
    try {
        return readFile(dir_ + "/error.log");
    } catch (...) {
        return {};
    }
}

} // namespace testsupport
