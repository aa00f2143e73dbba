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

// How a field of an observation was given.
enum class Given { Missing, Mistyped, Ok };

// The fields of one observation as the parser met them.
struct Observation {
    bool isObject = true;
    Given id = Given::Missing;
    std::string idText;
    Given cls = Given::Missing; // the "class" object
    Given type = Given::Missing;
    std::string typeName;
    Given score = Given::Missing;
    double scoreValue = 0.0;
    Given box = Given::Missing; // the "bounding_box" object
    Given corner[4] = {Given::Missing, Given::Missing, Given::Missing, Given::Missing};
    double corners[4] = {0.0, 0.0, 0.0, 0.0}; // left, right, top, bottom
};

// A non-negative decimal int32 written as text ("0", "42"); nothing else.
std::optional<std::int32_t> trackId(const std::string& text)
{
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
void addObservation(const Observation& o, std::size_t index, std::int64_t sceneTimeUs, int rotation,
                    const FusionClassTable& classes, TrackerScene& out)
{
    if (!o.isObject)
        return dropObservation(index, "not an object");
    if (o.id == Given::Missing)
        return dropObservation(index, "no track_id");
    const std::optional<std::int32_t> id =
        o.id == Given::Ok ? trackId(o.idText) : std::optional<std::int32_t>();
    if (!id)
        return dropObservation(index, "track_id is not a non-negative decimal int32");
    if (out.findObject(*id))
        return dropObservation(index, "track_id repeated");
    if (o.cls != Given::Ok)
        return dropObservation(index, "no class object");
    if (o.type != Given::Ok)
        return dropObservation(index, "no class type text");
    if (o.score != Given::Ok || !std::isfinite(o.scoreValue))
        return dropObservation(index, "no finite class score");
    if (o.scoreValue < 0.0 || o.scoreValue > 1.0)
        return dropObservation(index, "score outside [0, 1]");
    auto cls = classes.find(o.typeName);
    if (cls == classes.end()) {
        if (!o.typeName.empty())
            quillonLog(LOG_INFO, "Unknown object type %s\n", o.typeName.c_str());
        return;
    }
    if (o.box != Given::Ok)
        return dropObservation(index, "no bounding_box object");
    for (int i = 0; i < 4; i++)
        if (o.corner[i] != Given::Ok || !std::isfinite(o.corners[i]))
            return dropObservation(index, "bounding_box needs four finite numbers");

    auto object = std::make_shared<TrackingObject>();
    object->id = *id;
    object->source = kSourceFused;
    object->confidenceThreshold = perMille(cls->second.threshold);
    object->setConfidence(perMille(o.scoreValue));
    object->objectType = cls->second.id;
    // Picture corners (x right, y down) to device corners at the rotation
    // the picture is shown with.
    const int r = rotation < 0 ? 0 : rotation;
    const auto f = [](double v) { return static_cast<float>(v); };
    const Point a = pictureToDevice({f(o.corners[0]), f(o.corners[3])}, r);
    const Point b = pictureToDevice({f(o.corners[1]), f(o.corners[2])}, r);
    object->shape = Polygon::box(a.x, b.x, a.y, b.y);
    object->setTime(sceneTimeUs);
    object->setMoving(true);
    object->flags = kFlagReported;
    out.addObject(std::move(object), true);
}

// Reads the payload as a stream of parse events, keeping only the fields of
// the observations (no document is built). Duplicate keys: the last wins.
class PayloadReader : public nlohmann::json_sax<json>
{
public:
    std::vector<Observation> observations;
    bool haveList = false;

    bool null() override { return scalar(Value::Other); }
    bool boolean(bool) override { return scalar(Value::Other); }
    bool number_integer(number_integer_t v) override { return number(static_cast<double>(v)); }
    bool number_unsigned(number_unsigned_t v) override { return number(static_cast<double>(v)); }
    bool number_float(number_float_t v, const string_t&) override { return number(v); }
    bool string(string_t& v) override
    {
        text = &v;
        return scalar(Value::Text);
    }
    bool binary(binary_t&) override { return scalar(Value::Other); }

    bool start_object(std::size_t) override
    {
        const Ctx parent = top();
        Ctx next = Ctx::Other;
        if (stack.empty())
            next = Ctx::Root;
        else if (parent == Ctx::Root && currentKey == "frame")
            next = Ctx::Frame;
        else if (parent == Ctx::List)
            next = Ctx::Obs;
        else if (parent == Ctx::Obs && currentKey == "class")
            next = Ctx::Class;
        else if (parent == Ctx::Obs && currentKey == "bounding_box")
            next = Ctx::Box;
        if (next == Ctx::Root || next == Ctx::Frame)
            haveList = false; // a later "frame" replaces an earlier one
        if (next == Ctx::Obs)
            observations.emplace_back();
        if (next == Ctx::Class) {
            Observation& o = observations.back();
            o.cls = Given::Ok;
            o.type = Given::Missing;
            o.score = Given::Missing;
        }
        if (next == Ctx::Box) {
            Observation& o = observations.back();
            o.box = Given::Ok;
            for (Given& c : o.corner)
                c = Given::Missing;
        }
        if (next == Ctx::Other)
            mistyped();
        stack.push_back(next);
        return true;
    }
    bool end_object() override
    {
        stack.pop_back();
        return true;
    }
    bool start_array(std::size_t) override
    {
        Ctx next = Ctx::Other;
        if (top() == Ctx::Frame && currentKey == "observations") {
            next = Ctx::List;
            observations.clear();
            haveList = true;
        } else {
            mistyped();
        }
        stack.push_back(next);
        return true;
    }
    bool end_array() override
    {
        stack.pop_back();
        return true;
    }
    bool key(string_t& k) override
    {
        currentKey = k;
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override
    {
        return false;
    }

private:
    enum class Ctx { Root, Frame, List, Obs, Class, Box, Other };
    enum class Value { Text, Number, Other };

    Ctx top() const { return stack.empty() ? Ctx::Other : stack.back(); }

    bool number(double v)
    {
        value = v;
        return scalar(Value::Number);
    }

    // A value that is not an object or array.
    bool scalar(Value kind)
    {
        const Ctx at = top();
        if (stack.empty())
            return true;
        if (at == Ctx::Root && currentKey == "frame")
            haveList = false;
        else if (at == Ctx::Frame && currentKey == "observations")
            haveList = false;
        else if (at == Ctx::List) {
            observations.emplace_back();
            observations.back().isObject = false;
        } else if (at == Ctx::Obs || at == Ctx::Class || at == Ctx::Box)
            field(at, kind);
        return true;
    }

    // An object or array where a field wants a scalar, or where an
    // observation or the list belongs.
    void mistyped() { scalar(Value::Other); }

    void field(Ctx at, Value kind)
    {
        Observation& o = observations.back();
        if (at == Ctx::Obs) {
            if (currentKey == "track_id") {
                o.id = kind == Value::Text ? Given::Ok : Given::Mistyped;
                if (kind == Value::Text)
                    o.idText = *text;
            } else if (currentKey == "class") {
                o.cls = Given::Mistyped;
            } else if (currentKey == "bounding_box") {
                o.box = Given::Mistyped;
            }
        } else if (at == Ctx::Class) {
            if (currentKey == "type") {
                o.type = kind == Value::Text ? Given::Ok : Given::Mistyped;
                if (kind == Value::Text)
                    o.typeName = *text;
            } else if (currentKey == "score") {
                o.score = kind == Value::Number ? Given::Ok : Given::Mistyped;
                o.scoreValue = value;
            }
        } else {
            static const char* const kCorners[] = {"left", "right", "top", "bottom"};
            for (int i = 0; i < 4; i++) {
                if (currentKey == kCorners[i]) {
                    o.corner[i] = kind == Value::Number ? Given::Ok : Given::Mistyped;
                    o.corners[i] = value;
                }
            }
        }
    }

    std::vector<Ctx> stack;
    std::string currentKey;
    std::string* text = nullptr;
    double value = 0.0;
};

} // namespace

std::int64_t fusionSceneTimeUs(std::int64_t seconds, std::int64_t nanoseconds)
{
    return seconds * 1000000 + nanoseconds / 1000;
}

bool parseFusionPayload(std::string_view payload, std::int64_t sceneTimeUs, int rotation,
                        const FusionClassTable& classes, TrackerScene& out)
{
    PayloadReader reader;
    if (!json::sax_parse(payload.begin(), payload.end(), &reader)) {
        quillonLog(LOG_WARNING, "FusionClient: payload of %zu bytes is not JSON, dropped\n",
                   payload.size());
        return false;
    }
    if (!reader.haveList) {
        quillonLog(LOG_WARNING, "FusionClient: payload without frame.observations array, "
                                "dropped\n");
        return false;
    }
    out = TrackerScene(sceneTimeUs);
    for (std::size_t i = 0; i < reader.observations.size(); i++)
        addObservation(reader.observations[i], i, sceneTimeUs, rotation, classes, out);
    return true;
}

} // namespace quillon
