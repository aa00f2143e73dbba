#pragma once

#include <cstdint>

#include "quillon/core/message.h"

namespace quillon
{

// Posted by a Tracker's watch timer so that the watch runs on the bus
// thread; `tracker` names the Tracker instance that armed it.
class TrackerTickMessage : public Message
{
public:
    explicit TrackerTickMessage(std::uint64_t identity) : tracker(identity) {}

    std::uint64_t tracker;
};

} // namespace quillon
