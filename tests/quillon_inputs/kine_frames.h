#pragma once

// Builds framed scene-feed messages (length word + serialised Scene) for the
// decode tests, the fuzz seeds and the benchmark.
#include <cstdint>
#include <optional>
#include <vector>

#include "scene.pb-c.h"

namespace kinetest
{

struct ObjectSpec {
    std::uint32_t id = 1;
    std::optional<float> confidence = 1.0f;
    bool box = true;
    float left = -0.2f, top = 0.4f, right = 0.1f, bottom = -0.3f;
    bool velocity = true;
    float vx = 0.25f, vy = -0.5f;
};

struct EventSpec {
    int action = 0;
    std::int32_t objectId = 0;
    std::vector<std::int32_t> ids;
};

// Length word (big-endian, counting itself) followed by the Scene.
inline std::vector<std::uint8_t> framedScene(std::optional<std::uint64_t> timeNs,
                                             const std::vector<ObjectSpec>& objects,
                                             const std::vector<EventSpec>& events = {})
{
    Scene__Scene scene = SCENE__SCENE__INIT;
    if (timeNs) {
        scene.time_opt_case = SCENE__SCENE__TIME_OPT_TIME;
        scene.time = *timeNs;
    }
    std::vector<Scene__Object> o(objects.size());
    std::vector<Scene__BoundingBox> boxes(objects.size());
    std::vector<Scene__Velocity> velocities(objects.size());
    std::vector<Scene__Object*> op(objects.size());
    for (std::size_t i = 0; i < objects.size(); i++) {
        const ObjectSpec& s = objects[i];
        o[i] = SCENE__OBJECT__INIT;
        o[i].id_opt_case = SCENE__OBJECT__ID_OPT_ID;
        o[i].id = s.id;
        if (s.confidence) {
            o[i].confidence_opt_case = SCENE__OBJECT__CONFIDENCE_OPT_CONFIDENCE;
            o[i].confidence = *s.confidence;
        }
        if (s.box) {
            boxes[i] = SCENE__BOUNDING_BOX__INIT;
            boxes[i].left = s.left;
            boxes[i].top = s.top;
            boxes[i].right = s.right;
            boxes[i].bottom = s.bottom;
            o[i].bounding_box_opt_case = SCENE__OBJECT__BOUNDING_BOX_OPT_BOUNDING_BOX;
            o[i].bounding_box = &boxes[i];
        }
        if (s.velocity) {
            velocities[i] = SCENE__VELOCITY__INIT;
            velocities[i].vx = s.vx;
            velocities[i].vy = s.vy;
            o[i].velocity_opt_case = SCENE__OBJECT__VELOCITY_OPT_VELOCITY;
            o[i].velocity = &velocities[i];
        }
        op[i] = &o[i];
    }
    scene.n_objects = op.size();
    scene.objects = op.data();
    std::vector<Scene__Event> e(events.size());
    std::vector<std::vector<std::int32_t>> ids(events.size());
    std::vector<Scene__Event*> ep(events.size());
    for (std::size_t i = 0; i < events.size(); i++) {
        e[i] = SCENE__EVENT__INIT;
        e[i].action = static_cast<Scene__EventAction>(events[i].action);
        e[i].object_id = events[i].objectId;
        ids[i] = events[i].ids;
        e[i].n_object_ids = ids[i].size();
        e[i].object_ids = ids[i].data();
        ep[i] = &e[i];
    }
    scene.n_events = ep.size();
    scene.events = ep.data();
    const std::size_t size = scene__scene__get_packed_size(&scene);
    std::vector<std::uint8_t> out(4 + size);
    scene__scene__pack(&scene, out.data() + 4);
    const auto word = static_cast<std::uint32_t>(out.size());
    out[0] = static_cast<std::uint8_t>(word >> 24);
    out[1] = static_cast<std::uint8_t>(word >> 16);
    out[2] = static_cast<std::uint8_t>(word >> 8);
    out[3] = static_cast<std::uint8_t>(word);
    return out;
}

} // namespace kinetest
