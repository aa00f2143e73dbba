#include "quillon/inputs/vod/vod_parser.h"

#include <detfeed.h>
#include <stdlib.h>

#include <cstring>
#include <new>

#include "quillon/core/log.h"
#include "vod.pb-c.h"

namespace quillon
{

namespace
{

// The wire may carry any value in an enum field; protobuf-c stores it as is,
// so it is read as the integer it is.
template <typename Enum> std::int32_t wireValue(const Enum& value)
{
    static_assert(sizeof(Enum) == sizeof(std::int32_t));
    std::int32_t raw = 0;
    std::memcpy(&raw, &value, sizeof raw);
    return raw;
}

void onDetectionFrame(const std::uint8_t* data, std::size_t length, void* userData)
{
    static_cast<VodParser*>(userData)->onFrame(data, length);
}

void onFeedTeardown(void* userData)
{
    static_cast<VodParser*>(userData)->onTeardown();
}

double f1Of(const VodCalibration& c)
{
    double sum = double(c.precision) + double(c.recall);
    return sum == 0.0 ? 0.0 : 2.0 * c.precision * c.recall / sum;
}

void copyScene(const VOD__Scene& scene, VodSceneRecord& record)
{
    record.timestamp = scene.timestamp;
    record.detections.clear();
    record.events.clear();
    record.detections.reserve(scene.n_detections);
    for (std::size_t i = 0; i < scene.n_detections; i++) {
        const VOD__Detection* d = scene.detections[i];
        if (d == nullptr)
            continue;
        VodDetectionRecord r;
        r.left = d->left;
        r.top = d->top;
        r.right = d->right;
        r.bottom = d->bottom;
        r.id = d->id;
        r.detClass = d->det_class;
        r.score = d->score;
        r.status = wireValue(d->detection_status);
        r.attributeCount = static_cast<std::uint32_t>(d->n_attributes);
        record.detections.push_back(r);
    }
    record.events.reserve(scene.n_events);
    for (std::size_t i = 0; i < scene.n_events; i++) {
        const VOD__Event* e = scene.events[i];
        if (e == nullptr)
            continue;
        VodEventRecord r;
        r.action = wireValue(e->action);
        r.objectId = e->object_id;
        std::size_t n = e->n_object_ids;
        if (n > VodEventRecord::kMaxIds) {
            quillonLog(LOG_WARNING, "VOD decoder Too many target objects %u > %u",
                       static_cast<unsigned>(n), VodEventRecord::kMaxIds);
            n = VodEventRecord::kMaxIds;
        }
        r.idCount = static_cast<std::uint32_t>(n);
        for (std::size_t k = 0; k < n; k++)
            r.ids[k] = e->object_ids[k];
        record.events.push_back(r);
    }
}

} // namespace

int calibratedThreshold(const std::vector<VodCalibration>& calibrations)
{
    const VodCalibration* best = nullptr;
    double bestF1 = 0.0;
    for (const VodCalibration& c : calibrations) {
        double f1 = f1Of(c);
        if (f1 > bestF1) {
            bestF1 = f1;
            best = &c;
        }
    }
    return best != nullptr ? static_cast<int>(best->threshold) : 0;
}

bool decodeVodScene(const std::uint8_t* data, std::size_t length, VodSceneRecord& record)
{
    VOD__Scene* scene = vod__scene__unpack(nullptr, length, data);
    if (scene == nullptr) {
        quillonLog(LOG_ERR, "Error in unpacking detections");
        quillonLog(LOG_ERR, "Failed deserializing data");
        return false;
    }
    bool ok = true;
    try {
        copyScene(*scene, record);
    } catch (const std::bad_alloc&) {
        quillonLog(LOG_ERR, "Out of memory, was not able to get detections list");
        quillonLog(LOG_ERR, "Failed deserializing data");
        ok = false;
    }
    vod__scene__free_unpacked(scene, nullptr);
    return ok;
}

VodParser& VodParser::instance()
{
    static VodParser parser;
    return parser;
}

int VodParser::init(int channelIndex, VodSceneCallback onScene, VodTeardownCallback onTeardownCb,
                    void* owner)
{
    std::lock_guard<std::mutex> guard(lock);
    if (handle.load() != nullptr) {
        quillonLog(LOG_WARNING, "Attempted vod parser init when already initialized.");
        return 1;
    }
    sceneCallback = onScene;
    teardownCallback = onTeardownCb;
    client = owner;
    classList.clear();
    classesKnown = false;
    channels = 0;
    channelsSimultaneously = 0;

    detfeed_subscriber* created = nullptr;
    int rc = detfeed_create(&created, this, channelIndex, owner);
    if (rc != 0 || created == nullptr)
        return rc != 0 ? rc : -1;
    handle = created;
    detfeed_set_get_detection_callback(created, onDetectionFrame);
    detfeed_set_teardown_callback(created, onFeedTeardown);

    detfeed_det_class** list = nullptr;
    int count = detfeed_det_classes_get(&list);
    if (count < 1) {
        detfeed_det_classes_free(list, count > 0 ? count : 0);
        return -1;
    }
    classList.resize(static_cast<std::size_t>(count));
    for (int i = 0; i < count; i++) {
        classList[i].id = detfeed_det_class_id(list[i]);
        const char* name = detfeed_det_class_name(list[i]);
        classList[i].name = name != nullptr ? name : "";
    }
    detfeed_det_classes_free(list, count);
    classesKnown = true;
    detfeed_get_nbr_channels(&channels);
    detfeed_get_nbr_channels_simultaneously(&channelsSimultaneously);
    readDetectorInformation();

    detfeed_set_receive_empty_hits(created, 1);
    rc = detfeed_subscribe(created);
    if (rc != 0)
        return rc;
    return detfeed_set_receive_empty_hits(created, 1);
}

void VodParser::readDetectorInformation()
{
    std::uint8_t* buffer = nullptr;
    std::size_t length = 0;
    if (detfeed_get_detector_information(&buffer, &length) != 0) {
        free(buffer);
        return;
    }
    VOD__DetectorInformation* info = vod__detector_information__unpack(nullptr, length, buffer);
    free(buffer);
    if (info == nullptr) {
        quillonLog(LOG_ERR, "Could not unpack detector information");
        return;
    }
    if (!classesKnown) {
        quillonLog(LOG_ERR, "Class info array not created yet");
    } else {
        for (std::size_t k = 0; k < info->n_classes && k < classList.size(); k++) {
            const VOD__ObjectClass* cls = info->classes[k];
            if (cls == nullptr || cls->name == nullptr)
                continue;
            if (cls->n_calibrations == 0) {
                quillonLog(LOG_WARNING,
                           "No calibration information or bad beta value, not able to compute "
                           "F%f score",
                           1.0);
                continue;
            }
            std::vector<VodCalibration> calibrations;
            for (std::size_t c = 0; c < cls->n_calibrations; c++)
                if (cls->calibrations[c] != nullptr)
                    calibrations.push_back({cls->calibrations[c]->precision,
                                            cls->calibrations[c]->recall,
                                            cls->calibrations[c]->threshold});
            classList[k].threshold = quillon::calibratedThreshold(calibrations);
        }
    }
    vod__detector_information__free_unpacked(info, nullptr);
}

int VodParser::teardown(void* owner)
{
    std::lock_guard<std::mutex> guard(lock);
    detfeed_subscriber* current = handle.load();
    if (current == nullptr || owner != client)
        return 0;
    classList.clear();
    classesKnown = false;
    if (detfeed_running(current)) {
        int rc = detfeed_unsubscribe(current);
        if (rc != 0)
            return rc;
    }
    int rc = detfeed_delete(&current);
    handle = nullptr;
    client = nullptr;
    sceneCallback = nullptr;
    teardownCallback = nullptr;
    return rc;
}

bool VodParser::hasSubscription() const
{
    return handle.load() != nullptr;
}

int VodParser::classCount() const
{
    std::lock_guard<std::mutex> guard(lock);
    return static_cast<int>(classList.size());
}

std::optional<std::string> VodParser::className(int index) const
{
    std::lock_guard<std::mutex> guard(lock);
    if (index < 0 || index >= static_cast<int>(classList.size())) {
        quillonLog(LOG_INFO, "vod_client_get_object_type_name %d = null", index);
        return std::nullopt;
    }
    return classList[index].name;
}

int VodParser::classId(int index) const
{
    std::lock_guard<std::mutex> guard(lock);
    if (index < 0 || index >= static_cast<int>(classList.size()))
        return -1;
    return classList[index].id;
}

int VodParser::calibratedThreshold(int index) const
{
    std::lock_guard<std::mutex> guard(lock);
    if (index < 0 || index >= static_cast<int>(classList.size()))
        return -1;
    return classList[index].threshold;
}

std::vector<ObjectClassInfo> VodParser::classes() const
{
    std::lock_guard<std::mutex> guard(lock);
    return classList;
}

void VodParser::onFrame(const std::uint8_t* data, std::size_t length)
{
    VodSceneRecord record;
    if (!decodeVodScene(data, length, record))
        return;
    if (sceneCallback != nullptr)
        sceneCallback(record, client, *this);
}

void VodParser::onTeardown()
{
    detfeed_subscriber* current = handle.load();
    if (current != nullptr && detfeed_running(current) == 0 && teardownCallback != nullptr)
        teardownCallback(client);
}

} // namespace quillon
