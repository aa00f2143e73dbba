#pragma once

#include <atomic>
#include <cstdint>

#include "quillon/config/geometry/position_record.h"

namespace quillon
{

// The daemon's handle on the camera's PTZ control link: a thin wrapper of one
// libptzlink client for one video channel. The library gets its socket from
// the PTZ service through the connect/disconnect callbacks this class
// installs (control_socket.h).
//
// Every operation returns the library's result (0 = success), or kNoClient
// when there is no client (never created, creation failed, or shut down).
//
// Threads: owned by the tracker; every operation runs on the bus thread. The
// library calls the socket callbacks on the thread of the call that needs the
// socket, with its client locked; they touch only linkGeneration_ here.
class PtzClient
{
public:
    static constexpr int kNoClient = -7;
    // Space list unavailable (hasSpace).
    static constexpr int kNoSpaceList = -3;

    explicit PtzClient(int channel = 1);
    ~PtzClient();
    PtzClient(const PtzClient&) = delete;
    PtzClient& operator=(const PtzClient&) = delete;

    // Creates the library client, installs the socket callbacks and starts
    // it. A failed creation leaves no client (logged).
    void create();
    // Stops and deletes the client and forgets it; a second call only logs
    // "PTZ client already shut down".
    void shutDown();
    // Stops and deletes the client but keeps the handle (later calls get the
    // library's answer for a deleted client).
    void destroy();

    int continuousMove(double pan, double tilt, double zoom);
    // Selects the spaces later speeds are read in: (a | b, b).
    int setSpaces(int a, int b);
    // The camera position at CLOCK_MONOTONIC time `timeUs` (0 = now) from the
    // driver's data cache; `record` is written only on success.
    int readPosition(std::int64_t timeUs, PositionRecord& record);
    // 1 when the driver offers pan/tilt speed space `id`, 0 when not,
    // kNoSpaceList when its list cannot be had.
    int hasSpace(int id);

    int channel() const { return channel_; }
    int handle() const { return client_; }
    // Counts the sockets the library obtained: a new value means a new
    // connection to the driver, whose space selection starts from default.
    unsigned linkGeneration() const { return linkGeneration_.load(); }

private:
    static int onConnect(int channel, int* socketFd, int* socketHandle, void* userData);
    static int onDisconnect(int channel, int socketHandle, void* userData);
    void release();

    int client_ = 0;
    int channel_;
    std::atomic<unsigned> linkGeneration_{0};
};

} // namespace quillon
