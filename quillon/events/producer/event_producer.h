#pragma once

#include <glib.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace quillon
{

class DBusProxy;

// Wall-clock time (µs) of a moment given on the monotonic clock (µs), both
// clocks read now.
int64_t wallClockUs(int64_t monotonicUs);

// A client of the camera's event producer ("com.zeto.EventProducerd1"):
// declares event types, sends event instances and undeclares them.
//
// Threads: made, used and destroyed by one thread at a time (the owner of the
// event handler, normally the bus dispatch thread); the mutex guards only the
// proxy's creation and destruction. Declarations are synchronous with a 2 s
// time-out, so a frozen producer delays the caller by at most that; sends and
// undeclarations do not wait.
class EventProducer
{
public:
    EventProducer();
    ~EventProducer();
    EventProducer(const EventProducer&) = delete;
    EventProducer& operator=(const EventProducer&) = delete;

    // Returns the declaration id (>= 0) or -1.
    int32_t declare(const std::string& topic, const std::string& keySpec, bool leading);
    int32_t declareFlagged(const std::vector<std::string>& topicLevels, const std::string& keyName,
                           uint32_t flags, int32_t valueType);

    // Time stamps are wall-clock microseconds.
    void sendString(int32_t id, const std::string& key, const std::string& text,
                    int64_t timestampUs);
    void sendBool(int32_t id, const std::string& key, bool value, int64_t timestampUs);
    // Values are floating references (g_variant_new_*), consumed; entries
    // keep their order.
    void sendValues(int32_t id, const std::vector<std::pair<std::string, GVariant*>>& values,
                    int64_t timestampUs);
    void undeclare(int32_t id);

    // The producer's current owner on the bus ("" while it has none); a
    // change means its declarations are gone.
    std::string owner() const;

private:
    int32_t declareWith(GVariant* argument);

    mutable std::mutex lock_;
    std::unique_ptr<DBusProxy> proxy_;
};

} // namespace quillon
