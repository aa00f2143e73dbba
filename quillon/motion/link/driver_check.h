#pragma once

namespace quillon
{

class PtzClient;

// The start-up handshake with the PTZ driver, one step per tracker tick:
//   0 -> 1: begin;
//   1: a zero move; accepted -> 2 ("DriverCheck: PTZ connection ok! ");
//   2: when the driver offers the alternate pan/tilt space (kind 256, id 3),
//      select it (set spaces 256, 2) -> 3 with spaceSet(); without it -> 3;
//   3: done.
// A failing call keeps the state, so the step repeats on the next tick.
//
// The space selection belongs to the driver connection. followLink() sends
// the check back to state 1 when the library has connected anew since the
// zero move, so the new socket gets its space before the next move; the
// tracker then re-applies the gain set of the space actually selected.
//
// Owned by the tracker; bus thread only.
class DriverCheck
{
public:
    static constexpr int kAlternateSpace = 3;

    // One step; returns 0 or the failing call's result.
    int step(PtzClient& client);
    bool done() const { return state_ == 3; }
    bool spaceSet() const { return spaceSet_; }
    int state() const { return state_; }
    // Starts over from state 0 (the tracker restarts the check after a
    // failed position read).
    void reset();
    // True (and back to state 1) when the link changed since the zero move.
    bool followLink(const PtzClient& client);

private:
    int state_ = 0;
    bool spaceSet_ = false;
    unsigned generation_ = 0; // link generation of the accepted zero move
};

} // namespace quillon
