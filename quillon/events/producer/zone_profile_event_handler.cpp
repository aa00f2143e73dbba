#include "quillon/events/producer/zone_profile_event_handler.h"

#include <glib.h>

#include "quillon/core/log.h"
#include "quillon/events/producer/event_declaration.h"
#include "quillon/events/producer/event_producer.h"
#include "quillon/events/producer/state_event_handler.h"

namespace quillon
{

namespace
{

std::string updatedTopic(int32_t id, const std::string& name)
{
    return quillonTopic(formatString("tnszeto:ProfileUpdated_%d(Quillon: Profile \"%s\" updated)",
                                     id, topicSafe(name).c_str()));
}

std::string movementTopic(int32_t id, const std::string& name)
{
    return quillonTopic(
        formatString("tnszeto:ProfileMovement_%d(Quillon: Detection in profile \"%s\" )", id,
                     topicSafe(name).c_str()));
}

} // namespace

ZoneProfileEventHandler::ZoneProfileEventHandler(int32_t profileId, std::string name, bool debug)
    : profileId_(profileId), name_(std::move(name)), debug_(debug),
      updated_(
          [this](EventProducer& producer) {
              return producer.declare(
                  updatedTopic(profileId_, name_),
                  "enabled[b](Profile enabled){property-state}{onvif-data},channel[i],name[s]",
                  !debug_);
          },
          [](int32_t id) {
              quillonLog(LOG_WARNING, "Could not declare event: %d\n", id);
              quillonLog(LOG_ERR, "ZoneProfileEventHandler declare failed\n");
          }),
      movement_(
          [this](EventProducer& producer) {
              return producer.declare(
                  movementTopic(profileId_, name_),
                  "movement[b](Profile movement){property-state}{onvif-data},name[s]", false);
          },
          [](int32_t id) {
              quillonLog(LOG_WARNING, "Could not declare event2: %d\n", id);
              quillonLog(LOG_ERR, "ZoneProfileEventHandler declare movement failed\n");
          })
{
}

ZoneProfileEventHandler::~ZoneProfileEventHandler()
{
    stop();
}

void ZoneProfileEventHandler::start()
{
    session_.start();
}

void ZoneProfileEventHandler::stop()
{
    session_.stop();
}

void ZoneProfileEventHandler::setEnabled(bool enabled, int64_t nowUs)
{
    if (enabled == enabled_)
        return;
    enabled_ = enabled;
    // "profileId" is not among the declared keys; receivers read it anyway.
    if (EventProducer* producer = session_.ready(updated_))
        producer->sendValues(updated_.id(),
                             {{"enabled", g_variant_new_boolean(enabled)},
                              {"profileId", g_variant_new_int32(profileId_)},
                              {"name", eventString(name_)},
                              {"channel", g_variant_new_int32(1)}},
                             wallClockUs(nowUs));
}

void ZoneProfileEventHandler::evaluate(int64_t nowUs)
{
    if (movementSeen_) {
        latestMovementUs_ = nowUs;
        if (!moving_) {
            moving_ = true;
            quillonLog(LOG_INFO, "Update zone %d movement detected %d\n", profileId_, 1);
            sendMovement(nowUs);
        }
    } else if (moving_ && static_cast<double>(nowUs - latestMovementUs_) / 1e6 >
                              static_cast<double>(kMovementHoldUs) / 1e6) {
        moving_ = false;
        quillonLog(LOG_INFO, "Update zone %d movement stop %d\n", profileId_, 0);
        sendMovement(nowUs);
    }
}

void ZoneProfileEventHandler::sendMovement(int64_t nowUs)
{
    if (EventProducer* producer = session_.ready(movement_))
        producer->sendValues(movement_.id(),
                             {{"movement", g_variant_new_boolean(moving_)},
                              {"profileId", g_variant_new_int32(profileId_)},
                              {"name", eventString(name_)}},
                             wallClockUs(nowUs));
}

} // namespace quillon
