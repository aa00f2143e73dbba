#include "quillon_server.h"

#include <filesystem>
#include <stdexcept>

#include "support/wait.h"

using namespace testsupport;

std::string quillonRoutes(const std::string& socket)
{
    return "$HTTP[\"url\"] =~ \"^/local/quillon/\" {\n"
           "  fastcgi.server = ( \".cgi\" => (( \"socket\" => \"" +
           socket +
           "\", \"check-local\" => \"disable\" )),\n"
           "                     \".fcgi\" => (( \"socket\" => \"" +
           socket + "\", \"check-local\" => \"disable\" )) )\n}\n";
}

QuillonServer::QuillonServer(const std::string& applicationConf,
                             const std::vector<std::string>& prefix,
                             std::map<std::string, std::string> env,
                             const std::map<std::string, std::string>& configFiles)
{
    std::filesystem::create_directories(root() + "/etc/quillon");
    if (!applicationConf.empty())
        writeFile(root() + "/etc/quillon/application.conf", applicationConf);
    for (const auto& [name, content] : configFiles)
        writeFile(root() + "/etc/quillon/" + name, content);
    std::vector<std::string> argv = prefix;
    argv.push_back(QUILLON_BIN);
    env.emplace("CAMROOT", root());
    env.emplace("QUILLON_LOG_STDERR", "1");
    env.emplace("FCGI_SOCKET_NAME", socketPath());
    quillon = std::make_unique<ChildProcess>(argv, env);
    if (!quillon->waitForOutput("Autotracker starting"))
        throw std::runtime_error("quillon did not start: " + quillon->output());
    bool ready = waitFor([&] { return std::filesystem::exists(socketPath()); });
    if (!ready)
        throw std::runtime_error("no FastCGI socket: " + quillon->output());
    web = std::make_unique<Lighttpd>(dir.path() + "/web", quillonRoutes(socketPath()));
}

std::string QuillonServer::url(const std::string& script) const
{
    return web->url(script);
}
