#include "quillon/events/confirmation/status_text.h"

#include <json-c/json.h>

#include <charconv>
#include <cmath>
#include <string_view>

#include "quillon/config/geometry/coordinates.h"
#include "quillon/tracking/tracker/analyzed_video_message.h"

namespace quillon
{

namespace
{

const char* sourceColour(std::int32_t source)
{
    switch (source) {
    case kSourceDetection:
        return "#FFFF00";
    case kSourceFused:
        return "#BB0000";
    case kSourceScene:
        return "#0000CC";
    default:
        return nullptr;
    }
}

bool finite(const PictureBox& b)
{
    return std::isfinite(b.x) && std::isfinite(b.y) && std::isfinite(b.width) &&
           std::isfinite(b.height);
}

// Writes one JSON object after another into `out` as json-c's plain format
// does (no spaces; doubles as json-c writes them with "%.4g"). Built by
// hand: a json-c tree of a busy scene costs several times the text itself.
class Writer
{
public:
    explicit Writer(std::string& text) : out(text) {}

    void open(char bracket)
    {
        out += bracket;
        first = true;
    }
    void close(char bracket)
    {
        out += bracket;
        first = false;
    }
    // `"key":` with the comma before it when needed.
    void key(const char* name)
    {
        if (!first)
            out += ',';
        first = false;
        out += '"';
        out += name;
        out += "\":";
    }
    void element()
    {
        if (!first)
            out += ',';
        first = false;
    }
    void boolean(bool value) { out += value ? "true" : "false"; }
    void integer(std::int32_t value)
    {
        char buffer[16];
        auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
        out.append(buffer, result.ptr);
    }
    void number(double value) { appendStatusDouble(out, value); }
    void intMember(const char* name, std::int32_t value)
    {
        key(name);
        integer(value);
    }
    void boolMember(const char* name, bool value)
    {
        key(name);
        boolean(value);
    }
    void numberMember(const char* name, double value)
    {
        key(name);
        number(value);
    }
    // A literal without characters to escape.
    void literal(const char* text)
    {
        out += '"';
        out += text;
        out += '"';
    }
    // Any text, escaped by json-c.
    void string(const std::string& text)
    {
        json_object* value = json_object_new_string_len(text.data(), int(text.size()));
        out += json_object_to_json_string_ext(value, JSON_C_TO_STRING_PLAIN);
        json_object_put(value);
    }

private:
    std::string& out;
    bool first = true;
};

// Writes the object's entry and returns true, or writes nothing and returns
// false when it is not listed.
bool writeObject(Writer& w, const TrackingObject& object, int rotation, bool debugView,
                 bool tracked)
{
    const bool confident = object.isConfident();
    if (!debugView && !confident && !tracked)
        return false;
    const PictureBox box = pictureBox(object.getBox(), rotation);
    if (!finite(box))
        return false;
    w.element();
    w.open('{');
    if (object.id >= 0) {
        w.intMember("id", object.id);
    }
    if ((object.flags & kFlagReported) == 0) {
        w.boolMember("active", false);
    }
    if (debugView) {
        // Confident moving objects in blue, the others by their feed.
        const char* colour = confident && object.moving ? "#0000FF" : sourceColour(object.source);
        if (colour != nullptr) {
            w.key("color");
            w.literal(colour);
        }
    }
    w.numberMember("x", box.x);
    w.numberMember("y", box.y);
    w.numberMember("width", box.width);
    w.numberMember("height", box.height);
    if (tracked) {
        w.boolMember("tracking", true);
    }
    if (debugView && !object.typeName.empty() && object.typeName.size() < 100) {
        w.key("text");
        w.string(object.typeName);
    }
    w.close('}');
    return true;
}

bool finite(const VisualZone& zone)
{
    for (const Point& p : zone.polygon.points())
        if (!std::isfinite(p.x) || !std::isfinite(p.y))
            return false;
    return true;
}

void writeZone(Writer& w, const VisualZone& zone)
{
    w.element();
    w.open('{');
    w.intMember("profileId", zone.profileId);
    w.intMember("zoneType", zone.zoneType);
    w.boolMember("enabled", zone.enabled);
    w.key("polygon");
    w.open('[');
    for (const Point& p : zone.polygon.points()) {
        w.element();
        w.number(p.x);
        w.element();
        w.number(p.y);
    }
    w.close(']');
    w.close('}');
}

} // namespace

void appendStatusDouble(std::string& out, double value)
{
    // "%.4g" as printf writes it; json-c then marks a whole number as a
    // double with ".0".
    char buffer[32];
    auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 4);
    std::string_view text(buffer, std::size_t(result.ptr - buffer));
    out += text;
    if (text.find_first_of(".e") == std::string_view::npos && text.find("inf") == text.npos &&
        text.find("nan") == text.npos)
        out += ".0";
}

PictureBox pictureBox(const Box& box, int rotation)
{
    PictureBox out;
    if (rotation == 0 || rotation == 180) {
        // Rotation 0: the top left is the device box's (x, y + h) corner;
        // 180 turns the picture: its (x + w, y) corner.
        Point corner =
            rotation == 0 ? Point{box.x, box.y + box.height} : Point{box.x + box.width, box.y};
        Point picture = deviceToPicture(corner, rotation);
        out.x = picture.x;
        out.y = picture.y;
    }
    out.width = double(box.width) / 2.0;
    out.height = double(box.height) / 2.0;
    return out;
}

std::string statusText(const AnalyzedVideoMessage& scene, bool debugView)
{
    std::string text;
    text.reserve(128 + scene.objects.size() * 120 + scene.zones.size() * 160);
    std::string objects; // the listed objects' entries, comma-separated
    objects.reserve(scene.objects.size() * 120);
    Writer entries(objects);
    std::int32_t trackedId = -1;
    for (const auto& object : scene.objects) {
        if (object == nullptr)
            continue;
        const bool tracked = (object->flags & kFlagTracked) != 0;
        if (writeObject(entries, *object, scene.rotation, debugView, tracked) && tracked)
            trackedId = object->id;
    }
    Writer w(text);
    w.open('{');
    if (!objects.empty()) {
        w.key("objects");
        text += '[';
        text += objects;
        w.close(']');
    }
    bool zones = false;
    for (const auto& zone : scene.zones) {
        if (!finite(zone))
            continue;
        if (!zones) {
            w.key("zones");
            w.open('[');
            zones = true;
        }
        writeZone(w, zone);
    }
    if (zones)
        w.close(']');
    if (scene.latestResult != 0) {
        w.intMember("latestResult", scene.latestResult);
    }
    w.boolMember("trackerEnabled", scene.trackerEnabled);
    if (trackedId >= 0) {
        w.intMember("trackedId", trackedId);
    }
    if (scene.moving) {
        w.boolMember("isMoving", true);
    }
    w.numberMember("zoomMag", std::isfinite(scene.zoomMag) ? scene.zoomMag : 0.0);
    w.close('}');
    return text;
}

} // namespace quillon
