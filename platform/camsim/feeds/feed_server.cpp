#include "feed_server.h"

#include <fcntl.h>
#include <glib-unix.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

#include "encoders.h"
#include "feedwire.h"

namespace camsim::feeds
{

namespace
{
// A subscriber that lets this much pile up is not reading: it is dropped.
constexpr std::size_t kMaxQueued = 8u * 1024u * 1024u;
} // namespace

struct FeedServer::Listener {
    FeedServer* server = nullptr;
    Kind kind = Kind::Det;
    int fd = -1;
    std::string path;
    GSource* source = nullptr;
};

struct FeedServer::Client {
    FeedServer* server = nullptr;
    Kind kind = Kind::Det;
    int fd = -1;
    GSource* in = nullptr;
    GSource* out = nullptr;
    feedwire_reader reader{};
    std::string queued;
    bool subscribed = false;
    bool dead = false;
    unsigned channel = 0;
    unsigned options = 0;
    // Broker subscriptions: id -> (topic, source).
    std::map<std::uint32_t, std::pair<std::string, std::string>> subs;
};

FeedServer::FeedServer(GMainContext* context, int channels) : context_(context), channels_(channels)
{
}

FeedServer::~FeedServer()
{
    close();
}

bool FeedServer::listen(const Paths& paths, std::string& error)
{
    if (listenOne(Kind::Det, paths.detfeed, error) &&
        listenOne(Kind::Scene, paths.scenefeed, error) && listenOne(Kind::Mbx, paths.mbx, error))
        return true;
    close();
    return false;
}

bool FeedServer::listenOne(Kind kind, const std::string& path, std::string& error)
{
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof(addr.sun_path)) {
        error = "socket path too long: " + path;
        return false;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    // Parent directories, as the camera's runtime directory would be.
    for (std::size_t pos = path.find('/', 1); pos != std::string::npos;
         pos = path.find('/', pos + 1))
        ::mkdir(path.substr(0, pos).c_str(), 0755);
    ::unlink(path.c_str());
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) < 0 ||
        ::listen(fd, 16) < 0) {
        error = "cannot listen on " + path + ": " + std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    auto l = std::make_unique<Listener>();
    l->server = this;
    l->kind = kind;
    l->fd = fd;
    l->path = path;
    l->source = g_unix_fd_source_new(fd, G_IO_IN);
    g_source_set_callback(l->source,
                          G_SOURCE_FUNC(+[](gint, GIOCondition, gpointer data) -> gboolean {
                              auto* self = static_cast<Listener*>(data);
                              self->server->accept(*self);
                              return G_SOURCE_CONTINUE;
                          }),
                          l.get(), nullptr);
    g_source_attach(l->source, context_);
    listeners_.push_back(std::move(l));
    return true;
}

void FeedServer::close()
{
    if (delayTimer_ != nullptr) {
        g_source_destroy(delayTimer_);
        g_source_unref(delayTimer_);
        delayTimer_ = nullptr;
    }
    for (auto& queue : delayed_)
        queue.clear();
    for (auto& c : clients_)
        drop(*c);
    reap();
    dropped_ = 0;
    for (auto& l : listeners_) {
        g_source_destroy(l->source);
        g_source_unref(l->source);
        ::close(l->fd);
        ::unlink(l->path.c_str());
    }
    listeners_.clear();
}

void FeedServer::accept(Listener& l)
{
    for (;;) {
        int fd = ::accept4(l.fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            return;
        if (faults_[static_cast<int>(l.kind)] == FaultMode::Drop) {
            ::close(fd); // the feed is down: hang up at once
            continue;
        }
        auto c = std::make_unique<Client>();
        c->server = this;
        c->kind = l.kind;
        c->fd = fd;
        feedwire_reader_init(&c->reader);
        c->in = g_unix_fd_source_new(fd, G_IO_IN);
        g_source_set_callback(c->in,
                              G_SOURCE_FUNC(+[](gint, GIOCondition, gpointer data) -> gboolean {
                                  auto* self = static_cast<Client*>(data);
                                  bool keep = self->server->onReadable(*self);
                                  if (!keep) {
                                      self->server->drop(*self);
                                      self->server->reap();
                                      return G_SOURCE_REMOVE;
                                  }
                                  return G_SOURCE_CONTINUE;
                              }),
                              c.get(), nullptr);
        g_source_attach(c->in, context_);
        clients_.push_back(std::move(c));
    }
}

bool FeedServer::onReadable(Client& c)
{
    long n = feedwire_reader_fill(&c.reader, c.fd);
    if (n == FEEDWIRE_EAGAIN)
        return true;
    if (n <= 0)
        return false; // peer gone or error
    for (;;) {
        feedwire_header hdr;
        const std::uint8_t* payload = nullptr;
        int rc = feedwire_reader_next(&c.reader, &hdr, &payload);
        if (rc == FEEDWIRE_EAGAIN)
            return !c.dead;
        if (rc != FEEDWIRE_OK || !handle(c, hdr.type, payload, hdr.length))
            return false;
    }
}

// Answers one request. False drops the client (after what was queued).
bool FeedServer::handle(Client& c, std::uint16_t type, const std::uint8_t* p, std::uint32_t len)
{
    auto refuse = [&](std::uint32_t code, const std::string& text) {
        std::string payload(4, '\0');
        feedwire_put_u32(reinterpret_cast<std::uint8_t*>(payload.data()), code);
        payload += text;
        send(c, FEEDWIRE_ERROR, payload.data(), payload.size());
        return false;
    };
    switch (c.kind) {
    case Kind::Det:
        if (type == FEEDWIRE_DET_INFO_REQUEST) {
            Bytes info = detectorInfo_.empty() ? encodeDetectorInformation(0) : detectorInfo_;
            send(c, FEEDWIRE_DET_INFO, info.data(), info.size());
            return true;
        }
        if (type == FEEDWIRE_DET_CHANNELS_REQUEST) {
            std::uint8_t counts[8];
            feedwire_put_u32(counts, static_cast<std::uint32_t>(channels_));
            feedwire_put_u32(counts + 4, static_cast<std::uint32_t>(channels_));
            send(c, FEEDWIRE_DET_CHANNELS, counts, sizeof(counts));
            return true;
        }
        if (type == FEEDWIRE_DET_SUBSCRIBE) {
            if (len < 4)
                return refuse(EINVAL, "short subscribe request");
            c.channel = feedwire_get_u32(p);
            if (c.channel >= static_cast<unsigned>(channels_))
                return refuse(ENODEV, "no such channel");
            c.subscribed = true;
            send(c, FEEDWIRE_DET_SUBSCRIBED, nullptr, 0);
            return true;
        }
        break;
    case Kind::Scene:
        if (type == FEEDWIRE_SCENE_SUBSCRIBE) {
            if (len < 12)
                return refuse(EINVAL, "short subscribe request");
            c.channel = feedwire_get_u32(p);
            if (c.channel >= static_cast<unsigned>(channels_))
                return refuse(ENODEV, "no such channel");
            if (feedwire_get_u32(p + 4) != 3)
                return refuse(EPROTONOSUPPORT, "unknown message format");
            c.options = feedwire_get_u32(p + 8);
            c.subscribed = true;
            send(c, FEEDWIRE_SCENE_SUBSCRIBED, nullptr, 0);
            return true;
        }
        break;
    case Kind::Mbx:
        if (type == FEEDWIRE_MBX_SUBSCRIBE) {
            // u32 id, topic NUL, source NUL
            if (len < 6 || p[len - 1] != '\0')
                return refuse(EINVAL, "malformed subscribe request");
            const char* topic = reinterpret_cast<const char*>(p + 4);
            std::size_t tl = strnlen(topic, len - 4);
            if (4 + tl + 1 >= len)
                return refuse(EINVAL, "malformed subscribe request");
            std::string source(reinterpret_cast<const char*>(p + 4 + tl + 1));
            std::uint32_t id = feedwire_get_u32(p);
            c.subs[id] = {std::string(topic, tl), source};
            std::uint8_t reply[4];
            feedwire_put_u32(reply, id);
            send(c, FEEDWIRE_MBX_SUBSCRIBED, reply, sizeof(reply));
            return true;
        }
        if (type == FEEDWIRE_MBX_UNSUBSCRIBE) {
            if (len < 4)
                return refuse(EINVAL, "malformed unsubscribe request");
            c.subs.erase(feedwire_get_u32(p));
            return true;
        }
        break;
    }
    return refuse(EPROTO, "unexpected request");
}

void FeedServer::send(Client& c, std::uint16_t type, const void* payload, std::size_t length)
{
    if (c.dead)
        return;
    std::uint8_t hdr[FEEDWIRE_HEADER_SIZE];
    feedwire_put_header(hdr, type, static_cast<std::uint32_t>(length));
    c.queued.append(reinterpret_cast<const char*>(hdr), sizeof(hdr));
    if (length > 0)
        c.queued.append(static_cast<const char*>(payload), length);
    flush(c);
}

void FeedServer::sendRaw(Client& c, const void* bytes, std::size_t length)
{
    if (c.dead)
        return;
    c.queued.append(static_cast<const char*>(bytes), length);
    flush(c);
}

void FeedServer::flush(Client& c)
{
    while (!c.queued.empty()) {
        ssize_t n = ::send(c.fd, c.queued.data(), c.queued.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            c.queued.erase(0, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        c.dead = true; // peer gone
        return;
    }
    if (c.queued.size() > kMaxQueued) {
        c.dead = true;
        return;
    }
    if (!c.queued.empty() && c.out == nullptr) {
        c.out = g_unix_fd_source_new(c.fd, G_IO_OUT);
        g_source_set_callback(c.out,
                              G_SOURCE_FUNC(+[](gint, GIOCondition, gpointer data) -> gboolean {
                                  auto* self = static_cast<Client*>(data);
                                  self->server->flush(*self);
                                  if (self->queued.empty() || self->dead) {
                                      g_source_unref(self->out);
                                      self->out = nullptr;
                                      if (self->dead)
                                          self->server->reap();
                                      return G_SOURCE_REMOVE;
                                  }
                                  return G_SOURCE_CONTINUE;
                              }),
                              &c, nullptr);
        g_source_attach(c.out, context_);
    }
}

void FeedServer::drop(Client& c)
{
    c.dead = true;
}

// Closes and frees every dead client.
void FeedServer::reap()
{
    for (auto it = clients_.begin(); it != clients_.end();) {
        Client& c = **it;
        if (!c.dead) {
            ++it;
            continue;
        }
        if (c.in != nullptr) {
            g_source_destroy(c.in);
            g_source_unref(c.in);
        }
        if (c.out != nullptr) {
            g_source_destroy(c.out);
            g_source_unref(c.out);
        }
        ::close(c.fd);
        feedwire_reader_clear(&c.reader);
        dropped_++;
        it = clients_.erase(it);
    }
}

void FeedServer::setFault(unsigned feeds, FaultMode mode)
{
    const Kind kinds[] = {Kind::Det, Kind::Scene, Kind::Mbx};
    for (int k = 0; k < 3; k++) {
        if ((feeds & (1u << k)) == 0)
            continue;
        faults_[k] = mode;
        if (mode != FaultMode::Drop)
            continue;
        for (auto& c : clients_)
            if (c->kind == kinds[k])
                drop(*c);
    }
    reap();
}

FeedServer::FaultMode FeedServer::fault(FeedBit feed) const
{
    int k = feed == kDetectionFeed ? 0 : feed == kSceneFeed ? 1 : 2;
    return faults_[k];
}

void FeedServer::publish(const Frame& frame)
{
    frames_++;
    std::shared_ptr<const Frame> held;
    const Kind kinds[] = {Kind::Det, Kind::Scene, Kind::Mbx};
    for (int k = 0; k < 3; k++) {
        if (delayMs_[k] <= 0) {
            publishTo(kinds[k], frame);
            continue;
        }
        if (!held)
            held = std::make_shared<const Frame>(frame);
        delayed_[k].push_back({feedwire_monotonic_ns() + delayMs_[k] * 1000000LL, held});
    }
    if (held)
        armDelayed();
    reap();
}

void FeedServer::publishTo(Kind kind, const Frame& frame)
{
    if (faults_[static_cast<int>(kind)] != FaultMode::None)
        return;
    if (kind == Kind::Mbx) {
        bool any = std::any_of(clients_.begin(), clients_.end(), [](const auto& cp) {
            return cp->kind == Kind::Mbx && !cp->subs.empty();
        });
        if (!any)
            return;
        std::string payload = encodeAnalytics(frame);
        for (int ch = 1; ch <= channels_; ch++)
            publishMessage(kAnalyticsTopic, std::to_string(ch), frame.captureNs, payload);
        return;
    }
    Bytes vod;
    std::map<unsigned, Bytes> scenes; // by subscription options
    for (auto& cp : clients_) {
        Client& c = *cp;
        if (!c.subscribed || c.dead || c.kind != kind)
            continue;
        if (c.kind == Kind::Det) {
            if (vod.empty())
                vod = encodeVodScene(frame);
            sendDetFrame(c, vod);
        } else {
            unsigned opts = c.options & (kSceneVelocity | kSceneBox | kSceneLowConfident);
            auto it = scenes.find(opts);
            if (it == scenes.end())
                it = scenes.emplace(opts, encodeFramedScene(frame, opts)).first;
            send(c, FEEDWIRE_SCENE_FRAME, it->second.data(), it->second.size());
        }
    }
}

void FeedServer::setDelay(unsigned feeds, int ms)
{
    for (int k = 0; k < 3; k++)
        if ((feeds & (1u << k)) != 0)
            delayMs_[k] = ms > 0 ? ms : 0;
}

int FeedServer::delay(FeedBit feed) const
{
    int k = feed == kDetectionFeed ? 0 : feed == kSceneFeed ? 1 : 2;
    return delayMs_[k];
}

// One timer for the held frames: it fires at the earliest due time.
void FeedServer::armDelayed()
{
    std::int64_t due = INT64_MAX;
    for (const auto& queue : delayed_)
        if (!queue.empty())
            due = std::min(due, queue.front().dueNs);
    if (delayTimer_ != nullptr) {
        g_source_destroy(delayTimer_);
        g_source_unref(delayTimer_);
        delayTimer_ = nullptr;
    }
    if (due == INT64_MAX)
        return;
    const std::int64_t waitNs = std::max<std::int64_t>(0, due - feedwire_monotonic_ns());
    delayTimer_ = g_timeout_source_new(static_cast<guint>((waitNs + 999999) / 1000000));
    g_source_set_priority(delayTimer_, G_PRIORITY_HIGH);
    g_source_set_callback(delayTimer_, G_SOURCE_FUNC(+[](gpointer self) -> gboolean {
                              return static_cast<FeedServer*>(self)->onDelayed();
                          }),
                          this, nullptr);
    g_source_attach(delayTimer_, context_);
}

gboolean FeedServer::onDelayed()
{
    const Kind kinds[] = {Kind::Det, Kind::Scene, Kind::Mbx};
    const std::int64_t now = feedwire_monotonic_ns();
    for (int k = 0; k < 3; k++) {
        while (!delayed_[k].empty() && delayed_[k].front().dueNs <= now) {
            publishTo(kinds[k], *delayed_[k].front().frame);
            delayed_[k].pop_front();
        }
    }
    reap();
    // Re-arming replaces (and destroys) this source.
    g_source_unref(delayTimer_);
    delayTimer_ = nullptr;
    armDelayed();
    return G_SOURCE_REMOVE;
}

void FeedServer::sendDetFrame(Client& c, const Bytes& vod)
{
    // A varint that never ends: no VOD.Scene decodes from it.
    static const std::uint8_t kUndecodable[] = {0x08, 0xff, 0xff, 0xff, 0xff, 0xff,
                                                0xff, 0xff, 0xff, 0xff, 0xff};
    static const char kGarbage[] = "not a feed frame\n";
    switch (detFault_) {
    case DetFault::None:
        send(c, FEEDWIRE_DET_FRAME, vod.data(), vod.size());
        break;
    case DetFault::Undecodable:
        send(c, FEEDWIRE_DET_FRAME, kUndecodable, sizeof kUndecodable);
        break;
    case DetFault::Garbage:
        sendRaw(c, kGarbage, sizeof kGarbage - 1);
        break;
    }
}

void FeedServer::setDetFault(DetFault fault)
{
    detFault_ = fault;
}

unsigned FeedServer::injectDetFrame(const Bytes& payload)
{
    unsigned sent = 0;
    for (auto& cp : clients_) {
        Client& c = *cp;
        if (c.kind != Kind::Det || !c.subscribed || c.dead)
            continue;
        send(c, FEEDWIRE_DET_FRAME, payload.data(), payload.size());
        sent++;
    }
    reap();
    return sent;
}

unsigned FeedServer::publishMessage(const std::string& topic, const std::string& source,
                                    std::int64_t timestampNs, const std::string& payload)
{
    unsigned sent = 0;
    std::string msg(16, '\0');
    auto* m = reinterpret_cast<std::uint8_t*>(msg.data());
    feedwire_put_u64(m + 4, static_cast<std::uint64_t>(timestampNs / 1000000000));
    feedwire_put_u32(m + 12, static_cast<std::uint32_t>(timestampNs % 1000000000));
    msg += payload;
    for (auto& cp : clients_) {
        Client& c = *cp;
        if (c.kind != Kind::Mbx || c.dead)
            continue;
        for (const auto& [id, sub] : c.subs) {
            if (sub.first != topic || sub.second != source)
                continue;
            feedwire_put_u32(reinterpret_cast<std::uint8_t*>(msg.data()), id);
            send(c, FEEDWIRE_MBX_MESSAGE, msg.data(), msg.size());
            sent++;
        }
    }
    return sent;
}

FeedServer::Stats FeedServer::stats() const
{
    Stats s;
    for (const auto& cp : clients_) {
        if (cp->dead)
            continue;
        if (cp->kind == Kind::Det && cp->subscribed)
            s.detClients++;
        if (cp->kind == Kind::Scene && cp->subscribed)
            s.sceneClients++;
        if (cp->kind == Kind::Mbx) {
            s.mbxClients++;
            s.mbxSubscriptions += static_cast<unsigned>(cp->subs.size());
        }
    }
    s.frames = frames_;
    s.dropped = dropped_;
    return s;
}

} // namespace camsim::feeds
