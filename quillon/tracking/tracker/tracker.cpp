#include "quillon/tracking/tracker/tracker.h"

namespace quillon
{

Tracker::Tracker(bool debug) : debug_(debug) {}

Tracker::~Tracker() = default;

void Tracker::handleMessage(const std::shared_ptr<Message>&) {}

void Tracker::prepareToShutdown() {}

} // namespace quillon
