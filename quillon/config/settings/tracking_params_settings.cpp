#include "quillon/config/settings/tracking_params_settings.h"

#include "quillon/core/log.h"

namespace quillon
{

namespace
{

constexpr int kTimeoutRange = 1801;
constexpr int kZoomRange = 1802;
constexpr int kMaxProfilesRange = 1803;
constexpr int kPresetRange = 1804;

// "timeoutToHome" is an int on input but written as a double, so a file we
// wrote holds e.g. 10.0. Whole-numbered doubles are therefore read as well;
// otherwise a saved value would never load again.
std::optional<int64_t> wholeSeconds(json_object* object, const char* key)
{
    if (auto value = json::intMember(object, key))
        return value;
    if (auto value = json::doubleMember(object, key)) {
        if (std::isfinite(*value) && std::trunc(*value) == *value && std::fabs(*value) < 1e9)
            return static_cast<int64_t>(*value);
    }
    return std::nullopt;
}

} // namespace

TrackingParamsSettings::TrackingParamsSettings() : RecordSettings("trackingParams") {}

int TrackingParamsSettings::readJson(json_object* parent, int)
{
    json_object* object = json::objectMember(parent, name().c_str());
    if (object == nullptr)
        return kSettingsObjectMissing;
    TrackingParams candidate = value_;
    int code = 0;

    if (auto timeout = wholeSeconds(object, "timeoutToHome")) {
        if (*timeout < 1 || *timeout > 30)
            code = kTimeoutRange;
        else
            candidate.timeoutToHome = static_cast<float>(*timeout);
    }

    candidate.zoomLimitHigh = 8.0f;
    if (auto high = json::doubleMember(object, "zoomLimitHigh")) {
        if (!fields::doubleInRange(*high, 1.0, 20.0))
            code = kZoomRange;
        else
            candidate.zoomLimitHigh = static_cast<float>(*high);
    } else if (auto legacy = json::intMember(object, "zoomLimit")) {
        if (*legacy < 1 || *legacy > 20)
            code = kZoomRange;
        else
            candidate.zoomLimitHigh = static_cast<float>(*legacy);
    }

    candidate.zoomLimitLow = 1.0f;
    fields::readFloat(object, "zoomLimitLow", 1.0, 20.0, kZoomRange, candidate.zoomLimitLow, code);
    fields::readInt(object, "returnToPreset", -1, 100, kPresetRange, candidate.returnToPreset,
                    code);
    fields::readInt(object, "maxProfileNumber", 5, 100, kMaxProfilesRange,
                    candidate.maxProfileNumber, code);
    if (auto type = json::intMember(object, "trackerType"); type && *type >= 0)
        candidate.trackerType = json::clampToInt(*type);

    if (code == 0)
        value_ = candidate;
    return code;
}

int TrackingParamsSettings::toJson(json_object* parent, int)
{
    json_object* object = json_object_new_object();
    json_object_object_add(object, "timeoutToHome", json_object_new_double(value_.timeoutToHome));
    json_object_object_add(object, "zoomLimitHigh", json_object_new_double(value_.zoomLimitHigh));
    json_object_object_add(object, "zoomLimitLow", json_object_new_double(value_.zoomLimitLow));
    json_object_object_add(object, "maxProfileNumber",
                           json_object_new_int(value_.maxProfileNumber));
    json_object_object_add(object, "trackerType", json_object_new_int(value_.trackerType));
    json_object_object_add(object, "returnToPreset", json_object_new_int(value_.returnToPreset));
    json_object_object_add(parent, name().c_str(), object);
    quillonLog(LOG_INFO,
               "Timeout to home: %.1f, Zoom limit: %.2f-%.2f, Max profiles: %d Tracker type %d\n",
               value_.timeoutToHome, value_.zoomLimitLow, value_.zoomLimitHigh,
               value_.maxProfileNumber, value_.trackerType);
    return 0;
}

} // namespace quillon
