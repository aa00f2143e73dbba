#pragma once

#include <glib.h>

#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

namespace camsim
{

// Thrown by command handlers to refuse a request with a message.
class ControlError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Commands for tests and people. A request is one JSON object per line,
//   {"cmd": "pose"}  or  {"cmd": "preset-add", "number": 3, "name": "door"}
// and every request gets one line back:
//   {"ok": true, "result": ...}  or  {"ok": false, "error": "text"}.
// The same commands are served on a Unix stream socket (camsimctl talks to it)
// and can be dispatched in-process. Handlers run on the main loop.
class ControlSurface
{
public:
    using Handler = std::function<nlohmann::json(const nlohmann::json& request)>;

    ControlSurface();
    ~ControlSurface();
    ControlSurface(const ControlSurface&) = delete;
    ControlSurface& operator=(const ControlSurface&) = delete;

    // Registers a command; a second registration of the same name replaces it.
    void add(const std::string& command, const std::string& help, Handler handler);

    nlohmann::json dispatch(const nlohmann::json& request);
    // Parses one request line and dispatches it; never throws.
    std::string handleLine(const std::string& line);

    // Serves the commands on a Unix socket at `path` (used as given; the
    // caller resolves camera paths) with sources on `context`.
    bool listen(const std::string& path, GMainContext* context, std::string& error);
    void close();

    // Helpers for handlers: typed argument access that throws ControlError.
    static double number(const nlohmann::json& req, const char* key);
    static double number(const nlohmann::json& req, const char* key, double fallback);
    static std::string text(const nlohmann::json& req, const char* key);
    static std::string text(const nlohmann::json& req, const char* key,
                            const std::string& fallback);

private:
    struct Command {
        std::string help;
        Handler handler;
    };
    struct Server;
    std::map<std::string, Command> commands_;
    std::unique_ptr<Server> server_;
};

} // namespace camsim
