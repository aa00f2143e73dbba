#pragma once

// Serialised VOD.Scene frames for tests.
#include <cstdint>
#include <vector>

#include "vod.pb-c.h"

namespace vodtest
{

struct Det {
    float left, top, right, bottom;
    std::uint32_t id, cls, score;
    int status;
};

struct Ev {
    int action;
    int objectId;
    std::vector<std::int32_t> ids;
};

inline std::vector<std::uint8_t> sceneBytes(std::uint64_t timestamp, const std::vector<Det>& dets,
                                            std::vector<Ev> events = {})
{
    std::vector<VOD__Detection> d(dets.size());
    std::vector<VOD__Detection*> dp;
    for (std::size_t i = 0; i < dets.size(); i++) {
        vod__detection__init(&d[i]);
        d[i].left = dets[i].left;
        d[i].top = dets[i].top;
        d[i].right = dets[i].right;
        d[i].bottom = dets[i].bottom;
        d[i].id = dets[i].id;
        d[i].det_class = dets[i].cls;
        d[i].score = dets[i].score;
        d[i].detection_status = static_cast<VOD__Detection__DetectionStatus>(dets[i].status);
        dp.push_back(&d[i]);
    }
    std::vector<VOD__Event> e(events.size());
    std::vector<VOD__Event*> ep;
    for (std::size_t i = 0; i < events.size(); i++) {
        vod__event__init(&e[i]);
        e[i].action = static_cast<VOD__EventAction>(events[i].action);
        e[i].object_id = events[i].objectId;
        e[i].n_object_ids = events[i].ids.size();
        e[i].object_ids = events[i].ids.data();
        ep.push_back(&e[i]);
    }
    VOD__Scene scene;
    vod__scene__init(&scene);
    scene.timestamp = timestamp;
    scene.n_detections = dp.size();
    scene.detections = dp.data();
    scene.n_events = ep.size();
    scene.events = ep.data();
    std::vector<std::uint8_t> out(vod__scene__get_packed_size(&scene));
    vod__scene__pack(&scene, out.data());
    return out;
}

} // namespace vodtest
