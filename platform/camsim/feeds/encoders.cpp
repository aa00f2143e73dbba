#include "encoders.h"

#include <nlohmann/json.hpp>

#include "scene.pb-c.h"
#include "vod.pb-c.h"

namespace camsim::feeds
{

namespace
{

template <typename Msg, typename Size, typename Pack>
Bytes pack(const Msg* msg, Size sizeFn, Pack packFn, std::size_t prefix = 0)
{
    Bytes out(prefix + sizeFn(msg));
    packFn(msg, out.data() + prefix);
    return out;
}

} // namespace

Bytes encodeVodScene(const Frame& frame)
{
    std::vector<VOD__Detection> dets(frame.detections.size());
    std::vector<VOD__Detection*> detPtrs;
    for (std::size_t i = 0; i < dets.size(); i++) {
        const Detection& d = frame.detections[i];
        vod__detection__init(&dets[i]);
        dets[i].left = d.box.left;
        dets[i].top = d.box.top;
        dets[i].right = d.box.right;
        dets[i].bottom = d.box.bottom;
        dets[i].id = d.id;
        dets[i].det_class = d.detClass;
        dets[i].score = d.score;
        dets[i].detection_status = static_cast<VOD__Detection__DetectionStatus>(d.status);
        detPtrs.push_back(&dets[i]);
    }
    std::vector<VOD__Event> events(frame.vodEvents.size());
    std::vector<VOD__Event*> eventPtrs;
    std::vector<std::vector<int32_t>> ids(frame.vodEvents.size());
    for (std::size_t i = 0; i < events.size(); i++) {
        const TrackEvent& e = frame.vodEvents[i];
        vod__event__init(&events[i]);
        events[i].action = static_cast<VOD__EventAction>(e.action);
        events[i].object_id = e.objectId;
        ids[i] = e.objectIds;
        events[i].n_object_ids = ids[i].size();
        events[i].object_ids = ids[i].data();
        eventPtrs.push_back(&events[i]);
    }
    VOD__Scene scene;
    vod__scene__init(&scene);
    scene.timestamp = static_cast<uint64_t>(frame.captureNs);
    scene.n_detections = detPtrs.size();
    scene.detections = detPtrs.data();
    scene.n_events = eventPtrs.size();
    scene.events = eventPtrs.data();
    return pack(&scene, vod__scene__get_packed_size, vod__scene__pack);
}

std::vector<DetectorClassSpec> defaultDetectorClasses()
{
    std::vector<DetectorClassSpec> out;
    for (const DetectorClass& c : detectorClasses())
        out.push_back({c.id, c.name, {{0.6, 0.95, c.threshold - 20.0}, {0.9, 0.85, c.threshold}}});
    return out;
}

Bytes encodeDetectorInformation(unsigned channel)
{
    return encodeDetectorInformation(channel, defaultDetectorClasses());
}

Bytes encodeDetectorInformation(unsigned channel, const std::vector<DetectorClassSpec>& classes)
{
    std::vector<VOD__ObjectClass> objs(classes.size());
    std::vector<VOD__ObjectClass*> objPtrs;
    std::vector<std::vector<VOD__Calibration>> cals(classes.size());
    std::vector<std::vector<VOD__Calibration*>> calPtrs(classes.size());
    for (std::size_t i = 0; i < classes.size(); i++) {
        vod__object_class__init(&objs[i]);
        objs[i].id = classes[i].id;
        objs[i].name = const_cast<char*>(classes[i].name.c_str());
        cals[i].resize(classes[i].calibrations.size());
        for (std::size_t k = 0; k < cals[i].size(); k++) {
            const ClassCalibration& cal = classes[i].calibrations[k];
            vod__calibration__init(&cals[i][k]);
            cals[i][k].precision = static_cast<float>(cal.precision);
            cals[i][k].recall = static_cast<float>(cal.recall);
            cals[i][k].threshold = static_cast<float>(cal.threshold);
            calPtrs[i].push_back(&cals[i][k]);
        }
        objs[i].n_calibrations = calPtrs[i].size();
        objs[i].calibrations = calPtrs[i].data();
        objPtrs.push_back(&objs[i]);
    }
    VOD__DetectorProperties props;
    vod__detector_properties__init(&props);
    props.channel_idx = channel;
    props.compute_chip_opt_case = VOD__DETECTOR_PROPERTIES__COMPUTE_CHIP_OPT_COMPUTE_CHIP;
    props.compute_chip = VOD__COMPUTE_CHIP__COMPUTE_CHIP_CPU;
    VOD__DetectorInformation info;
    vod__detector_information__init(&info);
    info.n_classes = objPtrs.size();
    info.classes = objPtrs.data();
    info.properties = &props;
    return pack(&info, vod__detector_information__get_packed_size, vod__detector_information__pack);
}

Bytes encodeFramedScene(const Frame& frame, unsigned options)
{
    std::size_t n = frame.sceneObjects.size();
    std::vector<Scene__Object> objs(n);
    std::vector<Scene__BoundingBox> boxes(n);
    std::vector<Scene__Velocity> velos(n);
    std::vector<Scene__Object*> objPtrs;
    for (std::size_t i = 0; i < n; i++) {
        const SceneObject& so = frame.sceneObjects[i];
        if (so.lowConfidence && !(options & kSceneLowConfident))
            continue;
        Scene__Object* o = &objs[i];
        scene__object__init(o);
        o->id_opt_case = SCENE__OBJECT__ID_OPT_ID;
        o->id = so.id;
        o->confidence_opt_case = SCENE__OBJECT__CONFIDENCE_OPT_CONFIDENCE;
        o->confidence = so.confidence;
        if (options & kSceneBox) {
            scene__bounding_box__init(&boxes[i]);
            boxes[i].left = so.box.left;
            boxes[i].top = so.box.top;
            boxes[i].right = so.box.right;
            boxes[i].bottom = so.box.bottom;
            o->bounding_box_opt_case = SCENE__OBJECT__BOUNDING_BOX_OPT_BOUNDING_BOX;
            o->bounding_box = &boxes[i];
        }
        if (options & kSceneVelocity) {
            scene__velocity__init(&velos[i]);
            velos[i].vx = so.vx;
            velos[i].vy = so.vy;
            o->velocity_opt_case = SCENE__OBJECT__VELOCITY_OPT_VELOCITY;
            o->velocity = &velos[i];
        }
        o->area_opt_case = SCENE__OBJECT__AREA_OPT_AREA;
        o->area = so.box.area() / 4.0f; // share of the picture
        objPtrs.push_back(o);
    }
    std::vector<Scene__Event> events(frame.sceneEvents.size());
    std::vector<Scene__Event*> eventPtrs;
    std::vector<std::vector<int32_t>> ids(events.size());
    for (std::size_t i = 0; i < events.size(); i++) {
        const TrackEvent& e = frame.sceneEvents[i];
        scene__event__init(&events[i]);
        events[i].action = static_cast<Scene__EventAction>(e.action);
        events[i].object_id = e.objectId;
        ids[i] = e.objectIds;
        events[i].n_object_ids = ids[i].size();
        events[i].object_ids = ids[i].data();
        eventPtrs.push_back(&events[i]);
    }
    Scene__Scene scene;
    scene__scene__init(&scene);
    scene.time_opt_case = SCENE__SCENE__TIME_OPT_TIME;
    scene.time = static_cast<uint64_t>(frame.captureNs);
    scene.real_time_opt_case = SCENE__SCENE__REAL_TIME_OPT_REAL_TIME;
    scene.real_time = static_cast<uint64_t>(frame.realtimeNs);
    scene.n_objects = objPtrs.size();
    scene.objects = objPtrs.data();
    scene.n_events = eventPtrs.size();
    scene.events = eventPtrs.data();
    Bytes out = pack(&scene, scene__scene__get_packed_size, scene__scene__pack, 4);
    uint32_t word = static_cast<uint32_t>(out.size());
    out[0] = static_cast<uint8_t>(word >> 24);
    out[1] = static_cast<uint8_t>(word >> 16);
    out[2] = static_cast<uint8_t>(word >> 8);
    out[3] = static_cast<uint8_t>(word);
    return out;
}

std::string encodeAnalytics(const Frame& frame)
{
    nlohmann::json observations = nlohmann::json::array();
    for (const Detection& d : frame.detections) {
        PictureBox p = pictureBox(d.box, frame.rotation);
        observations.push_back({
            {"track_id", std::to_string(d.id)},
            {"class", {{"type", d.analyticsType}, {"score", d.score / 100.0}}},
            {"bounding_box",
             {{"left", p.left}, {"right", p.right}, {"top", p.top}, {"bottom", p.bottom}}},
        });
    }
    nlohmann::json root = {
        {"frame",
         {{"timestamp", frame.captureNs / 1000}, {"observations", std::move(observations)}}},
    };
    return root.dump();
}

} // namespace camsim::feeds
