#pragma once

#include <glib.h>

#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "camsim/core/module.h"

namespace camsim
{

// The driver end of the PTZ control socket (protocol:
// platform/ptzlink/include/ptzlink_protocol.h). Each connection is one
// SOCK_SEQPACKET pair; camsim keeps one end and hands the other to the client.
// A connection's speed-space selection is its own. When the connection that
// gave the last non-zero continuous move closes, the camera stops (a
// controller that died must not leave the camera running).
class PtzLinkServer
{
public:
    // Injected faults, for tests of the client's error handling.
    enum class Fault {
        None,
        Garbage,    // replies with a corrupt header
        Silent,     // never replies
        Short,      // replies cut short
        NoSpaces,   // the space list lacks the alternate pan/tilt space
        FailSpaces, // GET_SPACES is refused
        Refuse,     // every request is refused
    };

    explicit PtzLinkServer(Context& ctx);
    ~PtzLinkServer();
    PtzLinkServer(const PtzLinkServer&) = delete;
    PtzLinkServer& operator=(const PtzLinkServer&) = delete;

    // Creates a connection; returns the client's end (caller owns it) and its
    // handle, or -1 with errno set.
    int open(int& handle);
    bool close(int handle);
    std::vector<int> handles() const;

    void setFault(Fault fault) { fault_ = fault; }
    static bool faultFromName(const std::string& name, Fault& fault);
    nlohmann::json describe() const;

private:
    struct Connection {
        PtzLinkServer* server = nullptr;
        int handle = 0;
        int fd = -1;
        GSource* source = nullptr;
        SpeedSpace space = SpeedSpace::Proportional;
        unsigned requests = 0;
    };
    static gboolean onReadable(gint fd, GIOCondition cond, gpointer data);
    void serve(Connection& c, const unsigned char* packet, std::size_t size);
    void drop(int handle);

    Context& ctx_;
    std::map<int, Connection> connections_;
    int nextHandle_ = 1;
    int lastMover_ = 0; // connection of the last non-zero continuous move
    Fault fault_ = Fault::None;
};

} // namespace camsim
