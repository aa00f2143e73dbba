#include "quillon/inputs/fusion/fusion_payload.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "quillon/config/geometry/coordinates.h"
#include "quillon/core/log.h"

namespace quillon
{

namespace
{

using nlohmann::json;

// A non-negative decimal int32 written as text ("0", "42"); nothing else.
std::optional<std::int32_t> trackId(const json& value)
{
    if (!value.is_string())
        return std::nullopt;
    const std::string& text = value.get_ref<const std::string&>();
    if (text.empty() || text.size() > 10)
        return std::nullopt;
    std::int64_t id = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        id = id * 10 + (c - '0');
    }
    if (id > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(id);
}

// A finite number under `key` of `object`.
std::optional<double> number(const json& object, const char* key)
{
    auto it = object.find(key);
    if (it == object.end() || !it->is_number())
        return std::nullopt;
    const double v = it->get<double>();
    if (!std::isfinite(v))
        return std::nullopt;
    return v;
}

// Fraction x 1000 truncated toward zero.
int perMille(double value)
{
    return static_cast<int>(value * 1000.0);
}

void dropObservation(std::size_t index, const char* why)
{
    quillonLog(LOG_WARNING, "FusionClient: observation %zu dropped: %s\n", index, why);
}

// One observation into `out`, or skipped (logged).
void addObservation(const json& o, std::size_t index, std::int64_t sceneTimeUs, int rotation,
                    const FusionClassTable& classes, TrackerScene& out)
{
    if (!o.is_object())
        return dropObservation(index, "not an object");
    auto idIt = o.find("track_id");
    if (idIt == o.end())
        return dropObservation(index, "no track_id");
    const std::optional<std::int32_t> id = trackId(*idIt);
    if (!id)
        return dropObservation(index, "track_id is not a non-negative decimal int32");
    if (out.findObject(*id))
        return dropObservation(index, "track_id repeated");
    auto classIt = o.find("class");
    if (classIt == o.end() || !classIt->is_object())
        return dropObservation(index, "no class object");
    auto typeIt = classIt->find("type");
    if (typeIt == classIt->end() || !typeIt->is_string())
        return dropObservation(index, "no class type text");
    const std::optional<double> score = number(*classIt, "score");
    if (!score)
        return dropObservation(index, "no finite class score");
    if (*score < 0.0 || *score > 1.0)
        return dropObservation(index, "score outside [0, 1]");
    const std::string& type = typeIt->get_ref<const std::string&>();
    auto cls = classes.find(type);
    if (cls == classes.end()) {
        if (!type.empty())
            quillonLog(LOG_INFO, "Unknown object type %s\n", type.c_str());
        return;
    }
    auto boxIt = o.find("bounding_box");
    if (boxIt == o.end() || !boxIt->is_object())
        return dropObservation(index, "no bounding_box object");
    const std::optional<double> left = number(*boxIt, "left");
    const std::optional<double> right = number(*boxIt, "right");
    const std::optional<double> top = number(*boxIt, "top");
    const std::optional<double> bottom = number(*boxIt, "bottom");
    if (!left || !right || !top || !bottom)
        return dropObservation(index, "bounding_box needs four finite numbers");

    auto object = std::make_shared<TrackingObject>();
    object->id = *id;
    object->source = kSourceFused;
    object->confidenceThreshold = perMille(cls->second.threshold);
    object->setConfidence(perMille(*score));
    object->objectType = cls->second.id;
    // Picture corners (x right, y down) to device corners at the rotation
    // the picture is shown with.
    const Point a = pictureToDevice({static_cast<float>(*left), static_cast<float>(*bottom)},
                                    rotation < 0 ? 0 : rotation);
    const Point b = pictureToDevice({static_cast<float>(*right), static_cast<float>(*top)},
                                    rotation < 0 ? 0 : rotation);
    object->shape = Polygon::box(a.x, b.x, a.y, b.y);
    object->setTime(sceneTimeUs);
    object->setMoving(true);
    object->flags = kFlagReported;
    out.addObject(std::move(object), true);
}

} // namespace

std::int64_t fusionSceneTimeUs(std::int64_t seconds, std::int64_t nanoseconds)
{
    return seconds * 1000000 + nanoseconds / 1000;
}

bool parseFusionPayload(std::string_view payload, std::int64_t sceneTimeUs, int rotation,
                        const FusionClassTable& classes, TrackerScene& out)
{
    const json root = json::parse(payload.begin(), payload.end(), nullptr, false);
    if (root.is_discarded()) {
        quillonLog(LOG_WARNING, "FusionClient: payload of %zu bytes is not JSON, dropped\n",
                   payload.size());
        return false;
    }
    const json* observations = nullptr;
    if (root.is_object()) {
        auto frame = root.find("frame");
        if (frame != root.end() && frame->is_object()) {
            auto list = frame->find("observations");
            if (list != frame->end() && list->is_array())
                observations = &*list;
        }
    }
    if (observations == nullptr) {
        quillonLog(LOG_WARNING, "FusionClient: payload without frame.observations array, "
                                "dropped\n");
        return false;
    }
    out = TrackerScene(sceneTimeUs);
    std::size_t index = 0;
    for (const json& o : *observations)
        addObservation(o, index++, sceneTimeUs, rotation, classes, out);
    return true;
}

} // namespace quillon
