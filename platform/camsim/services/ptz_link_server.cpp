#include "ptz_link_server.h"

#include <fcntl.h>
#include <glib-unix.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string_view>

#include "ptzlink.h"
#include "ptzlink_protocol.h"

namespace camsim
{

namespace
{

struct SpaceEntry {
    ptzlink_space space;
    const char* name;
};

constexpr SpaceEntry kSpaces[] = {
    {{PTZLINK_SPACE_KIND_PANTILT_SPEED, 1, -100.0f, 100.0f, 3, 0}, "pantilt-proportional"},
    {{PTZLINK_SPACE_KIND_PANTILT_SPEED, 3, -2.0f, 2.0f, 3, 0}, "pantilt-alternate"},
    {{PTZLINK_SPACE_KIND_ZOOM_SPEED, 1, -200.0f, 200.0f, 4, 0}, "zoom-proportional"},
};

const char* faultName(PtzLinkServer::Fault f)
{
    switch (f) {
    case PtzLinkServer::Fault::None:
        return "none";
    case PtzLinkServer::Fault::Garbage:
        return "garbage";
    case PtzLinkServer::Fault::Silent:
        return "silent";
    case PtzLinkServer::Fault::Short:
        return "short";
    case PtzLinkServer::Fault::NoSpaces:
        return "nospaces";
    case PtzLinkServer::Fault::FailSpaces:
        return "failspaces";
    case PtzLinkServer::Fault::Refuse:
        return "refuse";
    }
    return "?";
}

} // namespace

PtzLinkServer::PtzLinkServer(Context& ctx) : ctx_(ctx) {}

PtzLinkServer::~PtzLinkServer()
{
    while (!connections_.empty())
        drop(connections_.begin()->first);
}

bool PtzLinkServer::faultFromName(const std::string& name, Fault& fault)
{
    for (Fault f : {Fault::None, Fault::Garbage, Fault::Silent, Fault::Short, Fault::NoSpaces,
                    Fault::FailSpaces, Fault::Refuse}) {
        if (name == faultName(f)) {
            fault = f;
            return true;
        }
    }
    return false;
}

nlohmann::json PtzLinkServer::describe() const
{
    nlohmann::json list = nlohmann::json::array();
    for (auto& [h, c] : connections_)
        list.push_back(
            {{"handle", h}, {"space", speedSpaceName(c.space)}, {"requests", c.requests}});
    return {{"fault", faultName(fault_)}, {"connections", list}};
}

int PtzLinkServer::open(int& handle)
{
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, sv) != 0)
        return -1;
    // The client's end blocks; the library polls with a time-out.
    int flags = fcntl(sv[1], F_GETFL);
    fcntl(sv[1], F_SETFL, flags & ~O_NONBLOCK);
    handle = nextHandle_++;
    Connection& c = connections_[handle];
    c.server = this;
    c.handle = handle;
    c.fd = sv[0];
    c.source = g_unix_fd_source_new(sv[0], G_IO_IN);
    g_source_set_callback(c.source, G_SOURCE_FUNC(onReadable), &c, nullptr);
    g_source_attach(c.source, ctx_.mainContext);
    return sv[1];
}

bool PtzLinkServer::close(int handle)
{
    if (connections_.count(handle) == 0)
        return false;
    drop(handle);
    return true;
}

std::vector<int> PtzLinkServer::handles() const
{
    std::vector<int> out;
    for (auto& [h, c] : connections_)
        out.push_back(h);
    return out;
}

void PtzLinkServer::drop(int handle)
{
    auto it = connections_.find(handle);
    if (it == connections_.end())
        return;
    Connection& c = it->second;
    g_source_destroy(c.source);
    g_source_unref(c.source);
    ::close(c.fd);
    connections_.erase(it);
    if (lastMover_ == handle) {
        lastMover_ = 0;
        ctx_.camera.stop(ctx_.now());
    }
}

gboolean PtzLinkServer::onReadable(gint fd, GIOCondition, gpointer data)
{
    auto* c = static_cast<Connection*>(data);
    PtzLinkServer* self = c->server;
    unsigned char packet[PTZLINK_MAX_PACKET];
    ssize_t n = recv(fd, packet, sizeof packet, MSG_TRUNC);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return G_SOURCE_CONTINUE;
    if (n <= 0) {
        self->drop(c->handle); // destroys this source
        return G_SOURCE_REMOVE;
    }
    if (n > static_cast<ssize_t>(sizeof packet))
        return G_SOURCE_CONTINUE; // oversized request: not ours, dropped
    self->serve(*c, packet, static_cast<std::size_t>(n));
    return G_SOURCE_CONTINUE;
}

void PtzLinkServer::serve(Connection& c, const unsigned char* packet, std::size_t size)
{
    ptzlink_header h{};
    if (size < sizeof h)
        return;
    std::memcpy(&h, packet, sizeof h);
    if (h.magic != PTZLINK_MAGIC || h.version != PTZLINK_VERSION)
        return;
    ++c.requests;
    const unsigned char* payload = packet + sizeof h;
    std::size_t length = size - sizeof h;

    unsigned char reply[PTZLINK_MAX_PACKET];
    std::size_t replyLen = 0;
    int status = 0;
    auto put = [&](const void* data, std::size_t n) {
        std::memcpy(reply + sizeof h + replyLen, data, n);
        replyLen += n;
    };

    if (fault_ == Fault::Silent)
        return;
    if (h.length != length || (h.type & PTZLINK_MSG_REPLY) != 0) {
        status = -EBADMSG;
    } else if (fault_ == Fault::Refuse) {
        status = -EPERM;
    } else if (h.type == PTZLINK_MSG_MOVE && length == sizeof(ptzlink_move_req)) {
        ptzlink_move_req m;
        std::memcpy(&m, payload, sizeof m);
        if (!ctx_.camera.continuousMove(m.pan, m.tilt, m.zoom, c.space, ctx_.now()))
            status = -EINVAL;
        else
            lastMover_ = (m.pan != 0.0 || m.tilt != 0.0 || m.zoom != 0.0) ? c.handle : 0;
    } else if (h.type == PTZLINK_MSG_GET_SPACES && length == 0) {
        if (fault_ == Fault::FailSpaces) {
            status = -EIO;
        } else {
            ptzlink_spaces_reply_head head{0, -1};
            std::string names;
            replyLen = sizeof head;
            for (auto& s : kSpaces) {
                if (fault_ == Fault::NoSpaces && s.space.id == 3)
                    continue;
                bool selected = s.space.kind == PTZLINK_SPACE_KIND_PANTILT_SPEED &&
                                (s.space.id == 3) == (c.space == SpeedSpace::Alternate);
                if (selected)
                    head.selected = head.count;
                put(&s.space, sizeof s.space);
                names += s.name;
                names += "\n";
                ++head.count;
            }
            put(names.data(), names.size());
            std::memcpy(reply + sizeof h, &head, sizeof head);
        }
    } else if (h.type == PTZLINK_MSG_SET_SPACES && length == sizeof(ptzlink_set_spaces_req)) {
        ptzlink_set_spaces_req s;
        std::memcpy(&s, payload, sizeof s);
        int sel = s.pantilt & 0xff;
        bool ok = (s.pantilt & ~0xff) == PTZLINK_SPACE_KIND_PANTILT_SPEED && sel >= 1 && sel <= 2 &&
                  s.zoom >= 1 && s.zoom <= 2;
        if (!ok || (sel == 2 && fault_ == Fault::NoSpaces))
            status = -EINVAL;
        else
            c.space = sel == 2 ? SpeedSpace::Alternate : SpeedSpace::Proportional;
    } else if (h.type == PTZLINK_MSG_DATACACHE && length == sizeof(ptzlink_datacache_req)) {
        ptzlink_datacache_req q;
        std::memcpy(&q, payload, sizeof q);
        const CameraState& now = ctx_.pose();
        std::optional<CameraState> s;
        if (q.seconds == 0 && q.microseconds == 0)
            s = now;
        else if (q.seconds >= 0 && q.seconds < (1LL << 40) && q.microseconds >= 0 &&
                 q.microseconds <= 999999)
            s = ctx_.history.at(q.seconds * 1000000LL + q.microseconds, now);
        if (!s) {
            status = -ERANGE;
        } else {
            ptzlink_datacache_reply d{s->status,
                                      static_cast<float>(s->panSpeed),
                                      static_cast<float>(s->tiltSpeed),
                                      static_cast<float>(s->pan),
                                      static_cast<float>(s->tilt),
                                      static_cast<float>(s->hfov),
                                      static_cast<float>(s->vfov),
                                      static_cast<float>(s->zoom)};
            put(&d, sizeof d);
        }
    } else {
        status = -EBADMSG;
    }

    if (status != 0)
        replyLen = 0;
    ptzlink_header rh{
        PTZLINK_MAGIC, PTZLINK_VERSION, static_cast<std::uint16_t>(h.type | PTZLINK_MSG_REPLY),
        h.seq,         status,          static_cast<std::uint32_t>(replyLen)};
    if (fault_ == Fault::Garbage)
        rh.magic = 0xdeadbeef;
    std::memcpy(reply, &rh, sizeof rh);
    std::size_t total = sizeof rh + replyLen;
    if (fault_ == Fault::Short)
        total = total > 4 ? total - 4 : 0;
    if (send(c.fd, reply, total, MSG_NOSIGNAL | MSG_DONTWAIT) < 0)
        g_debug("ptzlink reply lost: %s", std::strerror(errno));
}

} // namespace camsim
