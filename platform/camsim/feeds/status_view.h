#pragma once

#include <glib.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <string>

namespace camsim
{
struct CameraState;
struct Context;
} // namespace camsim

namespace camsim::feeds
{

// What the tracking daemon last reported beside what the simulated camera
// saw at that moment, read-only: the latest "streamObjects" event (its wall
// time stamp, when the hub took it, its "jsonframe" and the frame's
// CLOCK_MONOTONIC time), the data-cache pose at the frame's time and every
// scenario object there. Served as the control command "view" and as the CGI
// "view.cgi" on a transfer socket (cgirelay, docs/cgi-relay.md).
//
// Lives on camsim's main loop (the only thread that touches it): the hub's
// sent listener, the socket watch and the control command all run there.
class StatusView
{
public:
    // The scene at monotonic time `timeUs` seen from `pose`:
    // {"rotation": picture rotation, "objects": [...]} as the view lists them.
    using ObjectsAt = std::function<nlohmann::json(long long timeUs, const CameraState& pose)>;

    StatusView(Context& ctx, ObjectsAt objectsAt);
    ~StatusView();
    StatusView(const StatusView&) = delete;
    StatusView& operator=(const StatusView&) = delete;

    nlohmann::json view() const;

    // Answers "view.cgi" requests on the Unix datagram socket at `path`
    // (used as given; group "www", mode 0660). False with `error` set when
    // the socket cannot be made.
    bool serve(const std::string& path, std::string& error);

    // One sent event (public for tests).
    void onSent(const std::string& topic, const nlohmann::json& data);

private:
    static gboolean onRequest(gint fd, GIOCondition condition, gpointer self);
    void answer(int client, const char* request, std::size_t length) const;

    Context& ctx_;
    ObjectsAt objectsAt_;
    int listener_ = 0;
    nlohmann::json stream_; // null until the first streamObjects event
    int socket_ = -1;
    std::string socketPath_;
    guint watch_ = 0;
};

} // namespace camsim::feeds
