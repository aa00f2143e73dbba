#include "quillon/events/confirmation/visual_confirmation_handler.h"

#include "quillon/core/message.h"
#include "quillon/events/confirmation/status_text.h"
#include "quillon/tracking/tracker/analyzed_video_message.h"

namespace quillon
{

VisualConfirmationHandler::VisualConfirmationHandler(bool debugView) : debugView_(debugView)
{
    stream_.start();
}

VisualConfirmationHandler::~VisualConfirmationHandler()
{
    stop();
}

void VisualConfirmationHandler::handleMessage(const std::shared_ptr<Message>& message)
{
    if (auto scene = std::dynamic_pointer_cast<AnalyzedVideoMessage>(message)) {
        std::string text = statusText(*scene, debugView_);
        std::lock_guard<std::mutex> guard(lock_);
        stream_.send(text, scene->sceneTimeUs);
    } else if (auto debug =
                   std::dynamic_pointer_cast<TrackerSettingsMessage<debug_mode_t>>(message)) {
        debugView_ = debug->settings.debug;
    }
}

void VisualConfirmationHandler::prepareToShutdown()
{
    stop();
}

void VisualConfirmationHandler::stop()
{
    std::lock_guard<std::mutex> guard(lock_);
    stream_.stop();
}

} // namespace quillon
