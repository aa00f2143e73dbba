#pragma once

#include <string>

#include "quillon/inputs/vod/vod_object_class_settings.h"

namespace quillon
{

class Channel;

// Where a scene-driven strategy's feed clients post and whether they run.
// The Tracker builds strategies with the defaults (the process-wide bus,
// clients started); tests drive the steps themselves without clients.
struct SceneFeeds {
    Channel* bus = nullptr; // null: the process-wide bus
    bool startClients = true;
    std::string vodClassFile = kVodObjectClassFile;
};

// The bus of `feeds`.
Channel& sceneFeedsBus(const SceneFeeds& feeds);

} // namespace quillon
