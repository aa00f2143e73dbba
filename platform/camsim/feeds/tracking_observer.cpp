#include "tracking_observer.h"

#include "camsim/core/event_hub.h"

namespace camsim::feeds
{

namespace
{

// Level name of the last topic level: "tnszeto:A/tnszeto:B" -> "B".
std::string leafOf(const std::string& topic)
{
    std::string leaf = topic.substr(topic.rfind('/') + 1);
    return leaf.substr(leaf.rfind(':') + 1);
}

bool forChannelOne(const nlohmann::json& data)
{
    auto it = data.find("channel");
    return it == data.end() || !it->is_number_integer() || it->get<long long>() == 1;
}

} // namespace

TrackingObserver::TrackingObserver(EventHub& hub) : hub_(hub)
{
    listener_ = hub_.addSentListener(
        [this](const std::string& topic, const nlohmann::json& data) { onSent(topic, data); });
}

TrackingObserver::~TrackingObserver()
{
    hub_.removeSentListener(listener_);
}

void TrackingObserver::onSent(const std::string& topic, const nlohmann::json& data)
{
    if (topic.find("Quillon") == std::string::npos || !data.is_object())
        return;
    std::string leaf = leafOf(topic);
    if (leaf == "AutotrackingState") {
        auto it = data.find("stateInfo");
        if (it != data.end() && it->is_boolean() && forChannelOne(data))
            tracking_ = it->get<bool>();
    } else if (leaf == "streamObjects") {
        auto it = data.find("jsonframe");
        if (it == data.end() || !it->is_string())
            return;
        // An empty frame (the stream stopping) or one without "trackedId":
        // nothing followed.
        auto frame = nlohmann::json::parse(it->get<std::string>(), nullptr, false);
        auto id = frame.is_object() ? frame.find("trackedId") : frame.end();
        trackedId_ =
            frame.is_object() && id != frame.end() && id->is_number_integer() ? id->get<int>() : -1;
    }
}

} // namespace camsim::feeds
