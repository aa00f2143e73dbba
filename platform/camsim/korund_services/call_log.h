#pragma once

#include <cstddef>
#include <deque>
#include <nlohmann/json.hpp>
#include <string>

namespace camsim::korund
{

// D-Bus calls received by the camera services, oldest first, for tests
// ("korund-calls" on the control surface). Bounded: the oldest entries go
// first when it is full.
class CallLog
{
public:
    struct Record {
        std::string service;
        std::string path;
        std::string interface;
        std::string member;    // method name, or "Get" / "Set" for properties
        std::string signature; // of the call's arguments, e.g. "(sididiiii)"
        std::string args;      // the arguments in GVariant text form
    };

    void add(Record record)
    {
        if (records_.size() >= kMaxRecords)
            records_.pop_front();
        records_.push_back(std::move(record));
    }
    void clear() { records_.clear(); }
    std::size_t size() const { return records_.size(); }

    nlohmann::json toJson() const
    {
        auto out = nlohmann::json::array();
        for (const auto& r : records_)
            out.push_back({{"service", r.service},
                           {"path", r.path},
                           {"interface", r.interface},
                           {"member", r.member},
                           {"signature", r.signature},
                           {"args", r.args}});
        return out;
    }

private:
    static constexpr std::size_t kMaxRecords = 10000;
    std::deque<Record> records_;
};

} // namespace camsim::korund
