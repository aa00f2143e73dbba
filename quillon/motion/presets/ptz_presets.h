#pragma once

namespace quillon::PTZ
{

// The PTZ presets component: preset handlers and control-socket proxies per
// video channel, kept on a GLib main-loop thread of their own so that D-Bus
// signal handlers are not blocked by the rest of the daemon.

// Starts the component's main-loop thread (with a new main context). When it
// already runs, logs "PTZ is already initialized" and returns false.
bool start();
// Stops the main-loop thread and releases what the component holds.
void stop();
bool isStarted();

} // namespace quillon::PTZ
