#include "quillon/events/producer/stream_objects_event.h"

#include <glib.h>

#include "quillon/core/log.h"
#include "quillon/events/producer/event_declaration.h"
#include "quillon/events/producer/event_producer.h"

namespace quillon
{

StreamObjectsEvent::StreamObjectsEvent()
    : declaration_(
          [this](EventProducer& producer) {
              return producer.declareFlagged({"Plinth", "Quillon", leafName_}, "jsonframe",
                                             EVENT_FLAG_APPLICATION_DATA | EVENT_FLAG_ONVIF_DATA,
                                             VALUE_TYPE_STRING);
          },
          [this](int32_t id) {
              quillonLog(LOG_WARNING, "Could not declare event: %s %d\n", leafName_.c_str(), id);
          })
{
}

StreamObjectsEvent::~StreamObjectsEvent()
{
    stop();
}

void StreamObjectsEvent::start()
{
    session_.start();
}

void StreamObjectsEvent::stop()
{
    if (session_.started() && declaration_.id() >= 0)
        session_.producer()->sendString(declaration_.id(), "jsonframe", "", 0);
    session_.stop();
}

void StreamObjectsEvent::send(const std::string& jsonFrame, int64_t frameTimeUs)
{
    if (EventProducer* producer = session_.ready(declaration_))
        producer->sendString(declaration_.id(), "jsonframe", jsonFrame, wallClockUs(frameTimeUs));
}

} // namespace quillon
