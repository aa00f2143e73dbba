#include "quillon/config/zones/zone_profile_container.h"

#include <glib.h>

#include "quillon/config/geometry/coordinates.h"
#include "quillon/events/producer/zone_profile_event_handler.h"

namespace quillon
{

namespace
{

// Slack of the overlap test, below which boxes may still touch.
constexpr float kBoxSlack = 1e-4f;

bool boxesApart(const BoundingBox& a, const BoundingBox& b)
{
    return a.maxX < b.minX - kBoxSlack || b.maxX < a.minX - kBoxSlack ||
           a.maxY < b.minY - kBoxSlack || b.maxY < a.minY - kBoxSlack;
}

} // namespace

ZoneProfile::ZoneProfile() = default;
ZoneProfile::~ZoneProfile() = default;
ZoneProfile::ZoneProfile(ZoneProfile&&) noexcept = default;
ZoneProfile& ZoneProfile::operator=(ZoneProfile&&) noexcept = default;

ZoneProfileContainer::ZoneProfileContainer(bool debug) : debug_(debug) {}

ZoneProfileContainer::~ZoneProfileContainer()
{
    clear();
}

void ZoneProfileContainer::handleMessage(const std::shared_ptr<Message>& message)
{
    if (auto zone = dynamic_cast<const ZoneProfileSettingsMessage*>(message.get()))
        receive(zone->zone, g_get_monotonic_time());
}

void ZoneProfileContainer::startEvents(ZoneProfile& zone, std::int64_t nowUs)
{
    zone.events = std::make_unique<ZoneProfileEventHandler>(zone.id, zone.name, debug_);
    zone.events->start();
    zone.events->setEnabled(zone.enabled, nowUs);
}

void ZoneProfileContainer::receive(const ZoneProfileSettings& settings, std::int64_t nowUs)
{
    if (settings.points.empty()) {
        zones_.erase(settings.id);
        return;
    }
    auto found = zones_.find(settings.id);
    if (found == zones_.end()) {
        ZoneProfile& zone = zones_[settings.id];
        zone.points = Polygon(settings.points);
        zone.preset = settings.preset;
        zone.id = settings.id;
        zone.zoneType = settings.zoneType;
        zone.name = settings.name;
        zone.enabled = settings.enabled;
        startEvents(zone, nowUs);
        return;
    }
    ZoneProfile& zone = found->second;
    zone.points = Polygon(settings.points);
    zone.preset = settings.preset;
    zone.zoneType = settings.zoneType;
    const bool renamed = zone.name != settings.name;
    const bool toggled = zone.enabled != settings.enabled;
    zone.name = settings.name;
    zone.enabled = settings.enabled;
    if (renamed) {
        // The name is part of both topics: declare them again under it.
        zone.events.reset();
        startEvents(zone, nowUs);
    } else if (toggled) {
        zone.events->setEnabled(zone.enabled, nowUs);
    }
}

void ZoneProfileContainer::clear()
{
    const std::int64_t now = g_get_monotonic_time();
    for (auto& [id, zone] : zones_) {
        zone.enabled = false;
        if (zone.events)
            zone.events->setEnabled(false, now);
    }
    zones_.clear();
}

std::optional<Polygon> ZoneProfileContainer::pixelPolygon(const ZoneProfile& zone,
                                                          const PositionRecord& position,
                                                          const PictureFormat& format,
                                                          const CameraGeometry& geometry) const
{
    return visiblePolygon(zone.points, ViewMode::Picture, position, format, geometry);
}

void ZoneProfileContainer::beginPass(const PositionRecord& position, const PictureFormat& format,
                                     const CameraGeometry& geometry)
{
    for (auto& [id, zone] : zones_) {
        zone.visible = visiblePolygon(zone.points, ViewMode::Device, position, format, geometry);
        if (zone.events)
            zone.events->clearMovement();
    }
}

bool ZoneProfileContainer::objectInZone(ZoneProfile& zone, const Polygon& objectBox)
{
    if (!zone.visible || boxesApart(zone.visible->boundingBox(), objectBox.boundingBox()))
        return false;
    if (!zone.visible->overlaps(objectBox))
        return false;
    if (zone.events)
        zone.events->markMovement();
    return zone.enabled;
}

void ZoneProfileContainer::endPass(std::int64_t nowUs)
{
    for (auto& [id, zone] : zones_)
        if (zone.events)
            zone.events->evaluate(nowUs);
}

} // namespace quillon
