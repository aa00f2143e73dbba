#include "quillon/events/confirmation/visual_confirmation_handler.h"

#include "quillon/core/message.h"

namespace quillon
{

VisualConfirmationHandler::VisualConfirmationHandler() = default;

VisualConfirmationHandler::~VisualConfirmationHandler() = default;

void VisualConfirmationHandler::handleMessage(const std::shared_ptr<Message>& message)
{
    if (auto debug = std::dynamic_pointer_cast<TrackerSettingsMessage<debug_mode_t>>(message))
        debugView_ = debug->settings.debug;
}

void VisualConfirmationHandler::prepareToShutdown() {}

} // namespace quillon
