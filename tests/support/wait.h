#pragma once

#include <chrono>
#include <functional>

namespace testsupport {

// Polls `done` every few milliseconds until it returns true or `timeout`
// passes. Returns the last result. For waiting on other processes only; never
// use it to assert on speed.
bool waitFor(const std::function<bool()>& done,
             std::chrono::milliseconds timeout = std::chrono::seconds(10));

// A free TCP or UDP port on 127.0.0.1 (bound, read back, released).
int freeTcpPort();
int freeUdpPort();

} // namespace testsupport
