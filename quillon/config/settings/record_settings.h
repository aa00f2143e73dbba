#pragma once

#include <cmath>
#include <string>

#include "quillon/config/settings/general_settings.h"
#include "quillon/config/settings/json_values.h"
#include "quillon/core/channel.h"

namespace quillon
{

// A leaf record holding one payload T; publish() posts
// TrackerSettingsMessage<T> with a copy of it on the process-wide bus.
template <typename Derived, typename T> class RecordSettings : public CopyableSettings<Derived>
{
public:
    explicit RecordSettings(std::string name) : CopyableSettings<Derived>(std::move(name)) {}

    const T& value() const { return value_; }

    void publish() override { Channel::instance().postSettings(value_); }

protected:
    T value_{};
};

// Field checks used while a record validates a candidate copy of its payload.
// Each leaves `out` alone when the key is absent (or of the wrong type) and
// sets `code` to `error` when the value is outside [min, max], so that after
// all keys `code` holds the last failing key's error.
namespace fields
{

inline void readInt(json_object* object, const char* key, int min, int max, int error, int& out,
                    int& code)
{
    if (auto value = json::intMember(object, key)) {
        if (*value < min || *value > max)
            code = error;
        else
            out = static_cast<int>(*value);
    }
}

// Doubles outside the range, NaN and infinities are refused.
inline bool doubleInRange(double value, double min, double max)
{
    return std::isfinite(value) && value >= min && value <= max;
}

inline void readFloat(json_object* object, const char* key, double min, double max, int error,
                      float& out, int& code)
{
    if (auto value = json::doubleMember(object, key)) {
        if (!doubleInRange(*value, min, max))
            code = error;
        else
            out = static_cast<float>(*value);
    }
}

inline void readBool(json_object* object, const char* key, bool& out)
{
    if (auto value = json::boolMember(object, key))
        out = *value;
}

} // namespace fields

} // namespace quillon
