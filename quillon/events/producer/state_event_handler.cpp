#include "quillon/events/producer/state_event_handler.h"

#include <glib.h>

#include "quillon/core/log.h"
#include "quillon/events/producer/event_producer.h"

namespace quillon
{

std::string quillonTopic(const std::string& leaf)
{
    return "tnszeto:Plinth/tnszeto:Quillon/" + leaf;
}

StateEventHandler::StateEventHandler(Setup setup)
    : setup_(std::move(setup)),
      declaration_(
          [this](EventProducer& producer) {
              return producer.declare(setup_.topic, setup_.keySpec, setup_.leading);
          },
          [this](int32_t id) {
              quillonLog(LOG_WARNING, "Could not declare event: %d\n", id);
              quillonLog(LOG_ERR, "%s declare failed\n", setup_.handlerName);
          })
{
}

StateEventHandler::~StateEventHandler()
{
    stop();
}

void StateEventHandler::start()
{
    session_.start();
}

void StateEventHandler::stop()
{
    session_.stop();
}

void StateEventHandler::set(bool value, int32_t channel, int64_t timeUs)
{
    if (value == value_)
        return;
    value_ = value;
    if (EventProducer* producer = session_.ready(declaration_))
        producer->sendValues(
            declaration_.id(),
            {{setup_.key, g_variant_new_boolean(value)}, {"channel", g_variant_new_int32(channel)}},
            wallClockUs(timeUs));
}

AutotrackingStateEventHandler::AutotrackingStateEventHandler()
    : StateEventHandler({"AutotrackingStateEventHandler",
                         quillonTopic("tnszeto:AutotrackingState(Quillon: Is tracking)"),
                         "stateInfo[b]{property-state}{onvif-data},channel[i]{onvif-source}",
                         "stateInfo", false})
{
}

AutotrackingEnabledEventHandler::AutotrackingEnabledEventHandler(bool debug)
    : StateEventHandler(
          {"AutotrackingEnabledEventHandler",
           quillonTopic("tnszeto:AutoTriggers(Quillon: Autotracking triggers enabled)"),
           "autoTriggersEnabled[b]{property-state}{onvif-data},channel[i]{onvif-source}",
           "autoTriggersEnabled", !debug})
{
}

} // namespace quillon
