#pragma once

#include <future>
#include <memory>

#include "quillon/core/channel.h"

namespace quillontest
{

// Waits until every message posted so far on the process-wide bus has been
// dispatched and destroyed, so that a fuzz iteration frees what it allocated
// (otherwise libFuzzer suspects a leak and scans memory after each input).
inline void drainBus()
{
    class Flush : public quillon::Message
    {
    public:
        explicit Flush(std::promise<void>& done) : done_(done) {}
        ~Flush() override { done_.set_value(); }

    private:
        std::promise<void>& done_;
    };
    std::promise<void> done;
    auto finished = done.get_future();
    quillon::Channel::instance().post(std::make_unique<Flush>(done));
    finished.wait();
}

} // namespace quillontest
