#include "status_view.h"

#include <fdrelay.h>
#include <glib-unix.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "camsim/core/module.h"

namespace camsim::feeds
{

namespace
{

constexpr const char* kStreamTopic = "tnszeto:Plinth/tnszeto:Quillon/tnszeto:streamObjects";
constexpr const char* kCgiName = "/view.cgi";
constexpr std::size_t kRequestMax = 4095;
constexpr int kWriteTimeoutMs = 2000;
constexpr const char* kHttpHead = "HTTP/1.0 200 OK\r\nContent-Type: application/json\r\n"
                                  "Cache-Control: no-store\r\n\r\n";

// Writes all of `text` to the CGI response pipe without stalling the main
// loop for long when the web server does not read.
bool writeAll(int fd, const std::string& text)
{
    std::size_t done = 0;
    gint64 deadline = g_get_monotonic_time() + kWriteTimeoutMs * 1000LL;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)
            return false;
        gint64 left = (deadline - g_get_monotonic_time()) / 1000;
        if (left <= 0)
            return false;
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, static_cast<int>(left)) < 0 && errno != EINTR)
            return false;
    }
    return true;
}

} // namespace

StatusView::StatusView(Context& ctx, ObjectsAt objectsAt)
    : ctx_(ctx), objectsAt_(std::move(objectsAt))
{
    listener_ = ctx_.events.addSentListener(
        [this](const std::string& topic, const nlohmann::json& data) { onSent(topic, data); });
}

StatusView::~StatusView()
{
    ctx_.events.removeSentListener(listener_);
    if (watch_ != 0)
        g_source_remove(watch_);
    if (socket_ >= 0) {
        ::close(socket_);
        ::unlink(socketPath_.c_str());
    }
}

void StatusView::onSent(const std::string& topic, const nlohmann::json& data)
{
    if (topic != kStreamTopic)
        return;
    nlohmann::json entry = ctx_.events.latestSentJson();
    long long timestamp = entry.value("timestamp", 0LL);
    nlohmann::json frameTime = nullptr;
    // The producer's time stamp is wall-clock time; the data cache runs on
    // the monotonic clock. A time stamp of 0 marks the daemon's last, empty
    // frame and names no moment.
    if (timestamp > 0)
        frameTime = timestamp - (g_get_real_time() - ctx_.now());
    auto frame = data.find("jsonframe");
    stream_ = {
        {"timestamp", timestamp},
        {"received", entry.value("received", ctx_.now())},
        {"frame_time", frameTime},
        {"jsonframe", frame != data.end() && frame->is_string() ? *frame : nlohmann::json("")}};
}

nlohmann::json StatusView::view() const
{
    long long now = ctx_.now();
    const CameraState& current = ctx_.pose();
    long long poseTime = now;
    CameraState pose = current;
    if (!stream_.is_null() && stream_["frame_time"].is_number_integer()) {
        long long t = stream_["frame_time"].get<long long>();
        if (auto then = ctx_.history.at(t, current)) {
            pose = *then;
            poseTime = t;
        }
    }
    nlohmann::json scene = objectsAt_(poseTime, pose);
    return {{"now", now},
            {"stream", stream_},
            {"pose",
             {{"time", poseTime},
              {"pan", pose.pan},
              {"tilt", pose.tilt},
              {"zoom", pose.zoom},
              {"hfov", pose.hfov},
              {"vfov", pose.vfov},
              {"rotation", scene.value("rotation", 0)}}},
            {"objects", scene.value("objects", nlohmann::json::array())}};
}

bool StatusView::serve(const std::string& path, std::string& error)
{
    ::unlink(path.c_str()); // a socket left by a camsim that was killed
    socket_ = fdrelay_server_socket_with_user_group(path.c_str(), 0660, nullptr, "www");
    if (socket_ < 0) {
        error = "cannot serve view.cgi on " + path + ": " + std::strerror(errno);
        return false;
    }
    socketPath_ = path;
    // camsim's main context is the default one, where g_unix_fd_add attaches.
    watch_ = g_unix_fd_add(socket_, G_IO_IN, onRequest, this);
    return true;
}

gboolean StatusView::onRequest(gint fd, GIOCondition, gpointer self)
{
    char buffer[kRequestMax + 1];
    int client = -1;
    std::size_t length = fdrelay_recv(fd, buffer, kRequestMax, &client);
    // A malformed message costs only itself; EAGAIN is a spurious wake-up.
    if (length == 0 || client < 0) {
        if (client >= 0)
            ::close(client);
        return G_SOURCE_CONTINUE;
    }
    buffer[length] = '\0';
    static_cast<StatusView*>(self)->answer(client, buffer, length);
    ::close(client);
    return G_SOURCE_CONTINUE;
}

void StatusView::answer(int client, const char* request, std::size_t length) const
{
    // The payload starts with the script name, NUL-terminated; a request for
    // another CGI is closed unanswered so a wrong relay file fails visibly.
    std::string script(request, strnlen(request, length));
    if (!g_str_has_suffix(script.c_str(), kCgiName))
        return;
    g_unix_set_fd_nonblocking(client, TRUE, nullptr);
    if (!writeAll(client, kHttpHead + view().dump()))
        g_message("view.cgi: could not write the response");
}

} // namespace camsim::feeds
