#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "quillon/config/geometry/polygon.h"
#include "quillon/config/zones/zone_profile_settings.h"
#include "quillon/core/message_receiver.h"

namespace quillon
{

class CameraGeometry;
class ZoneProfileEventHandler;
struct PictureFormat;
struct PositionRecord;

// One zone as a tracking profile sees it, with the events of that zone.
struct ZoneProfile {
    ZoneProfile();
    ~ZoneProfile();
    ZoneProfile(ZoneProfile&&) noexcept;
    ZoneProfile& operator=(ZoneProfile&&) noexcept;

    Polygon points; // pan/tilt degrees
    int preset = -1;
    int id = -1;
    int zoneType = 0;
    std::string name;
    bool enabled = false;
    std::unique_ptr<ZoneProfileEventHandler> events;
    // The zone in device coordinates for the current evaluation pass; none
    // when it is out of view.
    std::optional<Polygon> visible;
};

// A tracking profile's copy of the stored zones, kept up to date from the
// ZoneProfileSettingsMessages of the store. Each zone declares its
// "ProfileUpdated" and "ProfileMovement" events while it exists, reports its
// enabled state and whether objects move in it, and answers whether an
// object's box lies in it.
//
// Threads: created by its tracking profile and subscribed on the bus;
// handleMessage, the evaluation pass and every query run on the bus
// dispatch thread, so the map is not locked. The event handlers make their
// D-Bus calls from that thread.
class ZoneProfileContainer : public MessageReceiver
{
public:
    explicit ZoneProfileContainer(bool debug);
    // Disables and undeclares every zone's events (clear()).
    ~ZoneProfileContainer() override;

    void handleMessage(const std::shared_ptr<Message>& message) override;
    void prepareToShutdown() override {}

    // Applies one zone change: empty points erase the zone (undeclaring its
    // events), a new id declares its events and reports its enabled state,
    // a known id is updated in place (a rename declares again).
    void receive(const ZoneProfileSettings& zone, std::int64_t nowUs);
    // Reports every zone disabled, then drops them all.
    void clear();

    // The zone in picture coordinates (for overlays); none when not in view.
    std::optional<Polygon> pixelPolygon(const ZoneProfile& zone, const PositionRecord& position,
                                        const PictureFormat& format,
                                        const CameraGeometry& geometry) const;

    // An evaluation pass: beginPass converts every zone into the view once
    // and clears the movement marks; objectInZone tests one object box
    // (device coordinates) and marks movement on overlap, even in a
    // disabled zone, but answers true only for an enabled one; endPass lets
    // every zone's events evaluate movement.
    void beginPass(const PositionRecord& position, const PictureFormat& format,
                   const CameraGeometry& geometry);
    bool objectInZone(ZoneProfile& zone, const Polygon& objectBox);
    void endPass(std::int64_t nowUs);

    std::map<int, ZoneProfile>& zones() { return zones_; }
    const std::map<int, ZoneProfile>& zones() const { return zones_; }
    bool debug() const { return debug_; }

private:
    void startEvents(ZoneProfile& zone, std::int64_t nowUs);

    bool debug_;
    std::map<int, ZoneProfile> zones_;
};

} // namespace quillon
