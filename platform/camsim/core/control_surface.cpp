#include "control_surface.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <glib-unix.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <list>

namespace camsim
{

using nlohmann::json;

namespace
{

constexpr std::size_t kMaxLine = 256 * 1024;
constexpr std::size_t kMaxPending = 4 * 1024 * 1024;

void setNonBlocking(int fd)
{
    int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

} // namespace

// Listening socket and its connections; every source is attached to the
// context given to listen() and destroyed with the server.
struct ControlSurface::Server {
    struct Client {
        Server* server = nullptr;
        int fd = -1;
        GSource* source = nullptr;
        GSource* writer = nullptr;
        std::string in;
        std::string out;
        bool closing = false;
    };

    ControlSurface* owner = nullptr;
    GMainContext* context = nullptr;
    int fd = -1;
    std::string path;
    GSource* source = nullptr;
    std::list<Client> clients;

    ~Server()
    {
        for (auto& c : clients)
            dropSource(c);
        clients.clear();
        if (source != nullptr) {
            g_source_destroy(source);
            g_source_unref(source);
        }
        if (fd >= 0) {
            ::close(fd);
            unlink(path.c_str());
        }
    }

    static void dropSource(Client& c)
    {
        if (c.writer != nullptr) {
            g_source_destroy(c.writer);
            g_source_unref(c.writer);
            c.writer = nullptr;
        }
        if (c.source != nullptr) {
            g_source_destroy(c.source);
            g_source_unref(c.source);
            c.source = nullptr;
        }
        if (c.fd >= 0) {
            ::close(c.fd);
            c.fd = -1;
        }
    }

    void remove(Client* c)
    {
        for (auto it = clients.begin(); it != clients.end(); ++it) {
            if (&*it == c) {
                dropSource(*it);
                clients.erase(it);
                return;
            }
        }
    }

    static gboolean onAccept(gint, GIOCondition, gpointer data)
    {
        auto* self = static_cast<Server*>(data);
        int cfd = accept4(self->fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (cfd < 0)
            return G_SOURCE_CONTINUE;
        self->clients.emplace_back();
        Client& c = self->clients.back();
        c.server = self;
        c.fd = cfd;
        c.source = g_unix_fd_source_new(cfd, G_IO_IN);
        g_source_set_callback(c.source, G_SOURCE_FUNC(onClient), &c, nullptr);
        g_source_attach(c.source, self->context);
        return G_SOURCE_CONTINUE;
    }

    static gboolean onClient(gint fd, GIOCondition, gpointer data)
    {
        auto* c = static_cast<Client*>(data);
        Server* self = c->server;
        char buf[4096];
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            self->remove(c);
            return G_SOURCE_REMOVE;
        }
        if (n > 0 && !c->closing) {
            c->in.append(buf, static_cast<std::size_t>(n));
            std::size_t nl;
            while ((nl = c->in.find('\n')) != std::string::npos) {
                std::string line = c->in.substr(0, nl);
                c->in.erase(0, nl + 1);
                c->out += self->owner->handleLine(line) + "\n";
            }
            if (c->out.size() > kMaxPending) { // a client that never reads its replies
                self->remove(c);
                return G_SOURCE_REMOVE;
            }
            if (c->in.size() > kMaxLine) {
                c->out += json{{"ok", false}, {"error", "request line too long"}}.dump() + "\n";
                c->in.clear();
                c->closing = true;
            }
        }
        return self->flush(c) ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
    }

    static gboolean onWritable(gint, GIOCondition, gpointer data)
    {
        auto* c = static_cast<Client*>(data);
        g_source_unref(c->writer);
        c->writer = nullptr;
        c->server->flush(c);
        return G_SOURCE_REMOVE;
    }

    // Sends what is pending; waits for writability when the socket is full.
    // Returns false when the client was removed.
    bool flush(Client* c)
    {
        while (!c->out.empty()) {
            ssize_t n = send(c->fd, c->out.data(), c->out.size(), MSG_NOSIGNAL);
            if (n > 0) {
                c->out.erase(0, static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                if (c->writer == nullptr) {
                    c->writer = g_unix_fd_source_new(c->fd, G_IO_OUT);
                    g_source_set_callback(c->writer, G_SOURCE_FUNC(onWritable), c, nullptr);
                    g_source_attach(c->writer, context);
                }
                return true;
            }
            remove(c);
            return false;
        }
        if (c->closing) {
            remove(c);
            return false;
        }
        return true;
    }
};

ControlSurface::ControlSurface()
{
    add("help", "list the commands", [this](const json&) {
        json out = json::object();
        for (auto& [name, c] : commands_)
            out[name] = c.help;
        return out;
    });
}

ControlSurface::~ControlSurface()
{
    close();
}

void ControlSurface::add(const std::string& command, const std::string& help, Handler handler)
{
    commands_[command] = Command{help, std::move(handler)};
}

json ControlSurface::dispatch(const json& request)
{
    try {
        if (!request.is_object() || !request.contains("cmd") || !request["cmd"].is_string())
            throw ControlError("request must be an object with a string \"cmd\"");
        auto it = commands_.find(request["cmd"].get<std::string>());
        if (it == commands_.end())
            throw ControlError("unknown command: " + request["cmd"].get<std::string>());
        json result = it->second.handler(request);
        return json{{"ok", true}, {"result", result}};
    } catch (const std::exception& e) {
        return json{{"ok", false}, {"error", e.what()}};
    }
}

std::string ControlSurface::handleLine(const std::string& line)
{
    json request = json::parse(line, nullptr, false);
    if (request.is_discarded())
        return json{{"ok", false}, {"error", "malformed JSON"}}.dump();
    return dispatch(request).dump();
}

bool ControlSurface::listen(const std::string& path, GMainContext* context, std::string& error)
{
    close();
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        error = "control socket path too long: " + path;
        return false;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = fmt::format("socket: {}", std::strerror(errno));
        return false;
    }
    unlink(path.c_str());
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 16) != 0) {
        error = fmt::format("cannot listen on {}: {}", path, std::strerror(errno));
        ::close(fd);
        return false;
    }
    setNonBlocking(fd);
    server_ = std::make_unique<Server>();
    server_->owner = this;
    server_->context = context;
    server_->fd = fd;
    server_->path = path;
    server_->source = g_unix_fd_source_new(fd, G_IO_IN);
    g_source_set_callback(server_->source, G_SOURCE_FUNC(Server::onAccept), server_.get(), nullptr);
    g_source_attach(server_->source, context);
    return true;
}

void ControlSurface::close()
{
    server_.reset();
}

double ControlSurface::number(const json& req, const char* key)
{
    if (!req.contains(key))
        throw ControlError(fmt::format("missing \"{}\"", key));
    const json& v = req[key];
    if (v.is_number()) {
        double d = v.get<double>();
        if (std::isfinite(d))
            return d;
    } else if (v.is_string()) {
        const std::string& s = v.get_ref<const std::string&>();
        char* end = nullptr;
        double d = std::strtod(s.c_str(), &end);
        if (!s.empty() && end != nullptr && *end == '\0' && std::isfinite(d))
            return d;
    }
    throw ControlError(fmt::format("\"{}\" must be a finite number", key));
}

double ControlSurface::number(const json& req, const char* key, double fallback)
{
    return req.contains(key) ? number(req, key) : fallback;
}

std::string ControlSurface::text(const json& req, const char* key)
{
    if (!req.contains(key))
        throw ControlError(fmt::format("missing \"{}\"", key));
    const json& v = req[key];
    if (v.is_string())
        return v.get<std::string>();
    return v.dump();
}

std::string ControlSurface::text(const json& req, const char* key, const std::string& fallback)
{
    return req.contains(key) ? text(req, key) : fallback;
}

} // namespace camsim
