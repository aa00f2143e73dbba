// camsimctl: sends one command to camsim's control socket and prints the reply.
//
//   camsimctl [--socket PATH] COMMAND [key=value ...]
//   camsimctl [--socket PATH] --json '{"cmd": "pose"}'
//
// Values are read as JSON when they parse (numbers, true, {"a": 1}) and as
// text otherwise. The socket defaults to /run/camsim/control under $CAMROOT.
// Exit status: 0 when camsim answered ok, 1 when it refused, 2 on usage or
// connection errors.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>

using nlohmann::json;

namespace
{

std::string defaultSocket()
{
    const char* root = std::getenv("CAMROOT");
    std::string base = (root != nullptr && *root != '\0') ? root : "";
    while (!base.empty() && base.back() == '/')
        base.pop_back();
    return base + "/run/camsim/control";
}

int usage()
{
    std::fprintf(stderr, "usage: camsimctl [--socket PATH] [--timeout SECONDS] COMMAND "
                         "[key=value ...]\n"
                         "       camsimctl [--socket PATH] --json REQUEST\n"
                         "       camsimctl help   lists the commands\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    std::string path = defaultSocket();
    json request = json::object();
    int timeoutMs = 10000;
    int i = 1;
    for (; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--socket" && i + 1 < argc) {
            path = argv[++i];
        } else if (a == "--timeout" && i + 1 < argc) {
            timeoutMs = static_cast<int>(std::atof(argv[++i]) * 1000);
        } else if (a == "--json" && i + 1 < argc) {
            request = json::parse(argv[++i], nullptr, false);
            if (request.is_discarded() || !request.is_object()) {
                std::fprintf(stderr, "camsimctl: --json needs a JSON object\n");
                return 2;
            }
        } else if (a == "-h" || a == "--help") {
            return usage();
        } else {
            break;
        }
    }
    if (i < argc) {
        request["cmd"] = argv[i++];
        for (; i < argc; ++i) {
            std::string kv = argv[i];
            auto eq = kv.find('=');
            if (eq == std::string::npos || eq == 0) {
                std::fprintf(stderr, "camsimctl: expected key=value, got '%s'\n", argv[i]);
                return 2;
            }
            std::string value = kv.substr(eq + 1);
            json v = json::parse(value, nullptr, false);
            request[kv.substr(0, eq)] = v.is_discarded() ? json(value) : v;
        }
    }
    if (!request.contains("cmd"))
        return usage();

    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        std::fprintf(stderr, "camsimctl: socket path too long\n");
        return 2;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        std::fprintf(stderr, "camsimctl: cannot connect to %s: %s\n", path.c_str(),
                     std::strerror(errno));
        return 2;
    }
    std::string line = request.dump() + "\n";
    if (send(fd, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size())) {
        std::fprintf(stderr, "camsimctl: send failed: %s\n", std::strerror(errno));
        close(fd);
        return 2;
    }
    std::string reply;
    char buf[4096];
    while (reply.find('\n') == std::string::npos) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) {
            std::fprintf(stderr, "camsimctl: no reply\n");
            close(fd);
            return 2;
        }
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            std::fprintf(stderr, "camsimctl: connection closed\n");
            close(fd);
            return 2;
        }
        reply.append(buf, static_cast<std::size_t>(n));
    }
    close(fd);
    reply.resize(reply.find('\n'));
    json r = json::parse(reply, nullptr, false);
    if (r.is_discarded()) {
        std::fprintf(stderr, "camsimctl: malformed reply: %s\n", reply.c_str());
        return 2;
    }
    if (r.value("ok", false)) {
        std::printf("%s\n", r["result"].dump(2).c_str());
        return 0;
    }
    std::fprintf(stderr, "camsimctl: %s\n", r.value("error", std::string("refused")).c_str());
    return 1;
}
