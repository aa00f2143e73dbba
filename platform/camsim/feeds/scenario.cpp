#include "scenario.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace camsim::feeds
{

namespace
{

using nlohmann::json;

[[noreturn]] void fail(const std::string& where, const std::string& what)
{
    throw ScenarioError(where + ": " + what);
}

const json* member(const json& obj, const char* key)
{
    auto it = obj.find(key);
    return it == obj.end() || it->is_null() ? nullptr : &*it;
}

double num(const json& obj, const char* key, const std::string& where, double fallback,
           double lo = -1e9, double hi = 1e9)
{
    const json* v = member(obj, key);
    if (v == nullptr)
        return fallback;
    if (!v->is_number())
        fail(where + "." + key, "must be a number");
    double d = v->get<double>();
    if (!std::isfinite(d) || d < lo || d > hi)
        fail(where + "." + key, "out of range");
    return d;
}

double requiredNum(const json& obj, const char* key, const std::string& where)
{
    if (member(obj, key) == nullptr)
        fail(where + "." + key, "missing");
    return num(obj, key, where, 0.0);
}

std::string str(const json& obj, const char* key, const std::string& where,
                const std::string& fallback)
{
    const json* v = member(obj, key);
    if (v == nullptr)
        return fallback;
    if (!v->is_string())
        fail(where + "." + key, "must be a string");
    return v->get<std::string>();
}

const json& objectAt(const json& v, const std::string& where)
{
    if (!v.is_object())
        fail(where, "must be an object");
    return v;
}

const json* arrayMember(const json& obj, const char* key, const std::string& where)
{
    const json* v = member(obj, key);
    if (v != nullptr && !v->is_array())
        fail(where + "." + key, "must be an array");
    return v;
}

CameraSpec parseCamera(const json& j)
{
    const std::string w = "camera";
    objectAt(j, w);
    CameraSpec c;
    c.height = num(j, "height", w, c.height, 0.1, 1000);
    c.pan = num(j, "pan", w, c.pan, -180, 180);
    c.tilt = num(j, "tilt", w, c.tilt, -90, 90);
    c.zoom = num(j, "zoom", w, c.zoom, 1, 100);
    c.rotation = static_cast<int>(num(j, "rotation", w, 0, 0, 180));
    if (c.rotation != 0 && c.rotation != 180)
        fail(w + ".rotation", "must be 0 or 180");
    c.panMin = num(j, "pan_min", w, c.panMin, -180, 180);
    c.panMax = num(j, "pan_max", w, c.panMax, -180, 180);
    if (c.panMin >= c.panMax)
        fail(w + ".pan_max", "must be greater than pan_min");
    if (c.pan < c.panMin || c.pan > c.panMax)
        fail(w + ".pan", "outside the pan stops");
    return c;
}

DetectorClassSpec parseDetectorClass(const json& j, const std::string& w)
{
    objectAt(j, w);
    DetectorClassSpec c;
    c.id = static_cast<unsigned>(num(j, "id", w, 0, 0, 4294967295.0));
    c.name = str(j, "name", w, "");
    if (const json* cals = arrayMember(j, "calibrations", w)) {
        for (std::size_t i = 0; i < cals->size(); i++) {
            const std::string where = w + ".calibrations[" + std::to_string(i) + "]";
            const json& cal = objectAt((*cals)[i], where);
            c.calibrations.push_back({num(cal, "precision", where, 0.0, 0, 1),
                                      num(cal, "recall", where, 0.0, 0, 1),
                                      num(cal, "threshold", where, 0.0, -1e6, 1e6)});
        }
    }
    return c;
}

DetectorSpec parseDetector(const json& j)
{
    const std::string w = "detector";
    objectAt(j, w);
    DetectorSpec d;
    d.fps = num(j, "fps", w, d.fps, 0.5, 120);
    d.latencyMs = num(j, "latency_ms", w, d.latencyMs, 0, 5000);
    d.boxNoise = num(j, "box_noise", w, d.boxNoise, 0, 1);
    if (const json* s = member(j, "score")) {
        objectAt(*s, w + ".score");
        d.scoreMean = num(*s, "mean", w + ".score", d.scoreMean, 1, 100);
        d.scoreNoise = num(*s, "noise", w + ".score", d.scoreNoise, 0, 100);
        d.smallSize = num(*s, "small_size", w + ".score", d.smallSize, 0, 2);
    }
    d.minSize = num(j, "min_size", w, d.minSize, 0, 2);
    d.missRate = num(j, "miss_rate", w, d.missRate, 0, 1);
    d.classConfusion = num(j, "class_confusion", w, d.classConfusion, 0, 1);
    d.trackTimeout = num(j, "track_timeout", w, d.trackTimeout, 0, 60);
    d.mergeOverlap = num(j, "merge_overlap", w, d.mergeOverlap, 0, 1);
    d.splitOverlap = num(j, "split_overlap", w, d.splitOverlap, 0, 1);
    if (d.splitOverlap > d.mergeOverlap)
        fail(w + ".split_overlap", "must not exceed merge_overlap");
    d.occludedShare = num(j, "occluded_share", w, d.occludedShare, 0.01, 1);
    if (const json* oo = member(j, "object_occlusion")) {
        if (!oo->is_boolean())
            fail(w + ".object_occlusion", "must be true or false");
        d.objectOcclusion = oo->get<bool>();
    }
    d.seed = static_cast<unsigned>(num(j, "seed", w, d.seed, 0, 4294967295.0));
    if (const json* list = arrayMember(j, "classes", w)) {
        d.classes.emplace();
        for (std::size_t i = 0; i < list->size(); i++)
            d.classes->push_back(
                parseDetectorClass((*list)[i], w + ".classes[" + std::to_string(i) + "]"));
    }
    return d;
}

ObjectSpec parseObject(const json& j, std::size_t index)
{
    const std::string w = "objects[" + std::to_string(index) + "]";
    objectAt(j, w);
    ObjectSpec o;
    o.name = str(j, "name", w, "object" + std::to_string(index + 1));
    o.cls = str(j, "class", w, "human");
    if (!knownClass(o.cls))
        fail(w + ".class", "unknown class \"" + o.cls + "\"");
    if (const json* size = member(j, "size")) {
        objectAt(*size, w + ".size");
        o.width = num(*size, "width", w + ".size", o.width, 0.01, 100);
        o.height = num(*size, "height", w + ".size", o.height, 0.01, 100);
    } else if (o.cls != "human") {
        // Sensible sizes per class when the scenario does not give one.
        if (o.cls == "car")
            o.width = 1.8, o.height = 1.5;
        else if (o.cls == "truck" || o.cls == "bus")
            o.width = 2.5, o.height = 3.2;
        else if (o.cls == "bike")
            o.width = 0.7, o.height = 1.7;
        else if (o.cls == "animal")
            o.width = 0.8, o.height = 0.6;
        else if (o.cls == "bag")
            o.width = 0.4, o.height = 0.4;
    }
    const json* path = arrayMember(j, "path", w);
    if (path == nullptr || path->empty())
        fail(w + ".path", "needs at least one waypoint");
    for (std::size_t i = 0; i < path->size(); i++) {
        const std::string pw = w + ".path[" + std::to_string(i) + "]";
        const json& p = objectAt((*path)[i], pw);
        if (i > 0 && member(p, "t") == nullptr)
            fail(pw + ".t", "missing");
        Waypoint wp{num(p, "t", pw, 0.0, 0, 1e7)};
        if (member(p, "pan") != nullptr || member(p, "distance") != nullptr) {
            if (member(p, "x") != nullptr || member(p, "y") != nullptr)
                fail(pw, "either x and y or pan and distance");
            wp.polar = true;
            wp.pan = num(p, "pan", pw, 0.0, -36000, 36000);
            if (member(p, "distance") == nullptr)
                fail(pw + ".distance", "missing");
            wp.distance = num(p, "distance", pw, 0.0, 0.1, 1e6);
            wp.x = wp.distance * std::sin(wp.pan * M_PI / 180.0);
            wp.y = wp.distance * std::cos(wp.pan * M_PI / 180.0);
        } else {
            wp.x = requiredNum(p, "x", pw);
            wp.y = requiredNum(p, "y", pw);
        }
        if (!o.path.empty() && wp.t <= o.path.back().t)
            fail(pw + ".t", "waypoint times must increase");
        o.path.push_back(wp);
    }
    o.enter = num(j, "enter", w, o.path.front().t, 0, 1e7);
    if (member(j, "exit") != nullptr) {
        o.exit = num(j, "exit", w, 0, 0, 1e7);
        if (*o.exit <= o.enter)
            fail(w + ".exit", "must come after enter");
    }
    if (const json* pauses = arrayMember(j, "pauses", w)) {
        for (std::size_t i = 0; i < pauses->size(); i++) {
            const std::string pw = w + ".pauses[" + std::to_string(i) + "]";
            const json& p = objectAt((*pauses)[i], pw);
            o.pauses.push_back({requiredNum(p, "at", pw), num(p, "duration", pw, 0, 0, 1e7)});
        }
        std::sort(o.pauses.begin(), o.pauses.end(),
                  [](const Pause& a, const Pause& b) { return a.at < b.at; });
    }
    if (const json* sw = arrayMember(j, "id_switches", w)) {
        for (std::size_t i = 0; i < sw->size(); i++) {
            const std::string pw = w + ".id_switches[" + std::to_string(i) + "]";
            if (!(*sw)[i].is_number())
                fail(pw, "must be a time in seconds");
            o.idSwitches.push_back({(*sw)[i].get<double>()});
        }
    }
    if (const json* windows = arrayMember(j, "score_windows", w)) {
        for (std::size_t i = 0; i < windows->size(); i++) {
            const std::string pw = w + ".score_windows[" + std::to_string(i) + "]";
            const json& p = objectAt((*windows)[i], pw);
            ScoreWindow sw{requiredNum(p, "from", pw), requiredNum(p, "to", pw),
                           num(p, "score", pw, 20, 1, 99)};
            if (sw.to <= sw.from)
                fail(pw + ".to", "must come after from");
            o.scoreWindows.push_back(sw);
        }
    }
    o.confusedClass = str(j, "confused_class", w, "");
    if (!o.confusedClass.empty() && !knownClass(o.confusedClass))
        fail(w + ".confused_class", "unknown class \"" + o.confusedClass + "\"");
    return o;
}

OccluderSpec parseOccluder(const json& j, std::size_t index)
{
    const std::string w = "occluders[" + std::to_string(index) + "]";
    objectAt(j, w);
    OccluderSpec o;
    o.name = str(j, "name", w, "occluder" + std::to_string(index + 1));
    o.x = requiredNum(j, "x", w);
    o.y = requiredNum(j, "y", w);
    o.width = num(j, "width", w, o.width, 0.01, 1000);
    o.height = num(j, "height", w, o.height, 0.01, 1000);
    return o;
}

} // namespace

Scenario parseScenario(const std::string& jsonText)
{
    json root;
    try {
        root = json::parse(jsonText);
    } catch (const json::exception& e) {
        throw ScenarioError(std::string("not valid JSON: ") + e.what());
    }
    objectAt(root, "scenario");
    Scenario s;
    s.name = str(root, "name", "scenario", "unnamed");
    s.description = str(root, "description", "scenario", "");
    if (const json* c = member(root, "camera"))
        s.camera = parseCamera(*c);
    if (const json* presets = arrayMember(root, "presets", "scenario")) {
        for (std::size_t i = 0; i < presets->size(); i++) {
            const std::string w = "presets[" + std::to_string(i) + "]";
            const json& p = objectAt((*presets)[i], w);
            PresetSpec ps;
            ps.number =
                static_cast<unsigned>(num(p, "number", w, static_cast<double>(i + 1), 1, 65535));
            ps.name = str(p, "name", w, "Preset " + std::to_string(ps.number));
            ps.pan = num(p, "pan", w, 0, -180, 180);
            ps.tilt = num(p, "tilt", w, 0, -90, 90);
            ps.zoom = num(p, "zoom", w, 1, 1, 100);
            s.presets.push_back(ps);
        }
    }
    if (const json* d = member(root, "detector"))
        s.detector = parseDetector(*d);
    if (const json* objects = arrayMember(root, "objects", "scenario")) {
        for (std::size_t i = 0; i < objects->size(); i++)
            s.objects.push_back(parseObject((*objects)[i], i));
    }
    if (const json* occluders = arrayMember(root, "occluders", "scenario")) {
        for (std::size_t i = 0; i < occluders->size(); i++)
            s.occluders.push_back(parseOccluder((*occluders)[i], i));
    }
    // "report" (target and phases for tools/track-report) is not camsim's.
    if (member(root, "duration") != nullptr)
        s.duration = num(root, "duration", "scenario", 0, 0.1, 1e7);
    if (const json* loop = member(root, "loop")) {
        if (!loop->is_boolean())
            fail("scenario.loop", "must be true or false");
        s.loop = loop->get<bool>();
        if (s.loop && !s.duration)
            fail("scenario.loop", "needs a duration");
    }
    return s;
}

Scenario loadScenario(const std::string& path)
{
    std::ifstream in(path);
    if (!in)
        throw ScenarioError(path + ": cannot be read");
    std::stringstream text;
    text << in.rdbuf();
    try {
        return parseScenario(text.str());
    } catch (const ScenarioError& e) {
        throw ScenarioError(path + ": " + e.what());
    }
}

const std::vector<DetectorClass>& detectorClasses()
{
    static const std::vector<DetectorClass> classes = {
        {0, "human", 40.0f},         {1, "vehicle", 45.0f}, {2, "motorcycle_bicycle", 45.0f},
        {3, "license_plate", 50.0f}, {4, "bag", 50.0f},     {5, "human_head", 50.0f},
        {6, "animal", 50.0f},
    };
    return classes;
}

namespace
{

struct ClassMap {
    const char* cls;
    int detector;
    const char* analytics;
};

const ClassMap kClasses[] = {
    {"human", 0, "Human"},     {"car", 1, "Car"},   {"truck", 1, "Truck"},   {"bus", 1, "Bus"},
    {"vehicle", 1, "Vehicle"}, {"bike", 2, "Bike"}, {"animal", 6, "Animal"}, {"bag", 4, "Bag"},
};

const ClassMap* findClass(const std::string& cls)
{
    for (const auto& c : kClasses)
        if (cls == c.cls)
            return &c;
    return nullptr;
}

} // namespace

bool knownClass(const std::string& cls)
{
    return findClass(cls) != nullptr;
}

int detectorClassOf(const std::string& cls)
{
    const ClassMap* c = findClass(cls);
    return c ? c->detector : -1;
}

std::string analyticsTypeOf(const std::string& cls)
{
    const ClassMap* c = findClass(cls);
    return c ? c->analytics : "";
}

std::optional<GroundPosition> objectPositionAt(const ObjectSpec& object, double t)
{
    if (t < object.enter || (object.exit && t >= *object.exit))
        return std::nullopt;
    // Pauses hold the object still and delay the rest of its path.
    double motionT = t;
    bool paused = false;
    for (const Pause& p : object.pauses) {
        if (t >= p.at + p.duration) {
            motionT -= p.duration;
        } else if (t >= p.at) {
            motionT -= t - p.at;
            paused = true;
        }
    }
    const auto& path = object.path;
    GroundPosition pos;
    if (motionT <= path.front().t) {
        pos.x = path.front().x;
        pos.y = path.front().y;
        return pos;
    }
    if (motionT >= path.back().t) {
        pos.x = path.back().x;
        pos.y = path.back().y;
        return pos;
    }
    auto next = std::upper_bound(path.begin(), path.end(), motionT,
                                 [](double v, const Waypoint& w) { return v < w.t; });
    const Waypoint& b = *next;
    const Waypoint& a = *(next - 1);
    double f = (motionT - a.t) / (b.t - a.t);
    if (a.polar && b.polar) {
        double pan = (a.pan + (b.pan - a.pan) * f) * M_PI / 180.0;
        double d = a.distance + (b.distance - a.distance) * f;
        pos.x = d * std::sin(pan);
        pos.y = d * std::cos(pan);
    } else {
        pos.x = a.x + (b.x - a.x) * f;
        pos.y = a.y + (b.y - a.y) * f;
    }
    pos.moving = !paused && (a.x != b.x || a.y != b.y);
    return pos;
}

} // namespace camsim::feeds
