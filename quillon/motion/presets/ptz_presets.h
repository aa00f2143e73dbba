#pragma once

#include <memory>
#include <vector>

#include "quillon/motion/presets/preset_handler.h"
#include "quillon/motion/presets/ptz_socket.h"

namespace quillon::PTZ
{

// The PTZ presets component: preset handlers and control-socket proxies per
// video channel of the camera's PTZ service ("com.zeto.PTZ2"), kept on a
// GLib main-loop thread of their own (the PTZ thread) so that D-Bus signal
// handlers are not blocked by the rest of the daemon.
//
// The PTZ thread watches the service's name: each time the service appears
// (at start when it runs, later when it starts or restarts) the channels are
// discovered from its object manager. A channel seen before keeps its
// handler and socket (others may hold them) and has its state and presets
// read again; a new channel gets new ones.
//
// Threads: start() and stop() from the service's thread (never from the PTZ
// thread); the lookups from any thread: the lists are guarded by a mutex and
// a lookup hands out a shared pointer.

// Starts the component's main-loop thread (with a new main context) and the
// discovery on it. When it already runs, logs "PTZ is already initialized"
// and returns false.
bool start();
// Stops the main-loop thread and releases what the component holds; handlers
// and sockets held elsewhere stop following the service.
void stop();
bool isStarted();

// The channel's preset handler, or empty after logging the miss.
std::shared_ptr<PTZ_PresetHandler> presetHandler(int channel);
// The channel's control-socket proxy, or empty.
std::shared_ptr<PTZ_Socket> socket(int channel);
std::vector<std::shared_ptr<PTZ_PresetHandler>> presetHandlers();
// Discoveries completed since start() (0 until the service has been seen).
int discoveries();

// The channel number of a channel object path "/com/zeto/PTZ2/Channel/<n>",
// n in 1..INT_MAX; -1 (logged) for a number outside, 0 for any other path.
int channelFromPath(const char* objectPath);

} // namespace quillon::PTZ
