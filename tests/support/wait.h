#pragma once

#include <chrono>
#include <functional>

namespace testsupport
{

// Polls `done` every few milliseconds until it returns true or `timeout`
// passes. Returns the last result. For waiting on other processes only; never
// use it to assert on speed.
bool waitFor(const std::function<bool()>& done,
             std::chrono::milliseconds timeout = std::chrono::seconds(10));

// How long fault tests keep a peer frozen (SIGSTOP): $PTZ_FAULT_FREEZE_SECONDS,
// default 8 s (CI); 30 s is the full check.
std::chrono::seconds faultFreezeTime();

// A free TCP or UDP port on 127.0.0.1 (bound, read back, released).
int freeTcpPort();
int freeUdpPort();

} // namespace testsupport
