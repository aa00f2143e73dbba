#pragma once

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace camsim::feeds
{

// A scripted scene for the detection feeds, read from a JSON file (format in
// docs/camsim-feeds.md). Distances in metres on the ground plane: the camera
// stands at (0, 0) at `height` above the ground, x grows to the east, y to
// the north; pan 0 looks north and grows toward the east. Times in seconds
// from the start of the scenario.

// A waypoint is given either on the ground grid (x, y) or as a direction
// and distance from the camera (pan in degrees, distance in metres). Between
// two polar waypoints the object moves along the arc: pan and distance are
// interpolated, so a ramp in pan is exact in angle.
struct Waypoint {
    double t = 0.0;
    double x = 0.0;
    double y = 0.0;
    bool polar = false;
    double pan = 0.0;
    double distance = 0.0;
};

// The object stands still from `at` for `duration` seconds; the rest of its
// path is delayed by the same amount.
struct Pause {
    double at = 0.0;
    double duration = 0.0;
};

// At `at` the detector's tracker loses the object's identity and gives it a
// new track id.
struct IdSwitch {
    double at = 0.0;
};

// From `from` to `to` the detector scores the object `score` percent (plus
// the usual noise) while it keeps tracking it: a low-confidence stretch.
struct ScoreWindow {
    double from = 0.0;
    double to = 0.0;
    double score = 0.0;
};

struct ObjectSpec {
    std::string name;
    std::string cls;            // "human", "car", "truck", "bus", "bike", "animal", "bag"
    double width = 0.6;         // metres, across the line of sight
    double height = 1.75;       // metres
    double enter = 0.0;         // present from this time ...
    std::optional<double> exit; // ... until this time (default: for ever)
    std::vector<Waypoint> path; // at least one point, times increasing
    std::vector<Pause> pauses;
    std::vector<IdSwitch> idSwitches;
    std::string confusedClass; // class reported on confusion (default by class)
    std::vector<ScoreWindow> scoreWindows;
};

// Something standing in the scene that hides what is behind it (a pillar, a
// parked van): an upright rectangle facing the camera, like the objects.
struct OccluderSpec {
    std::string name;
    double x = 0.0;
    double y = 0.0;
    double width = 1.0;
    double height = 2.0;
};

struct CameraSpec {
    double height = 4.0;
    double pan = 0.0;
    double tilt = -10.0;
    double zoom = 1.0;
    int rotation = 0;       // picture rotation, 0 or 180
    double panMin = -180.0; // pan stops; the defaults turn freely
    double panMax = 180.0;
};

struct PresetSpec {
    unsigned number = 0;
    std::string name;
    double pan = 0.0;
    double tilt = 0.0;
    double zoom = 1.0;
};

// A class of the detector's class list with its calibration points.
struct ClassCalibration {
    double precision = 0.0;
    double recall = 0.0;
    double threshold = 0.0;
};

struct DetectorClassSpec {
    unsigned id = 0;
    std::string name;
    std::vector<ClassCalibration> calibrations;
};

struct DetectorSpec {
    double fps = 15.0;
    double latencyMs = 100.0;
    double boxNoise = 0.0;        // standard deviation of box edges, fraction of the box size
    double scoreMean = 85.0;      // percent, for a well-sized object
    double scoreNoise = 0.0;      // standard deviation, percent
    double smallSize = 0.08;      // box height (device units) below which scores fall
    double minSize = 0.01;        // box height below which nothing is detected
    double missRate = 0.0;        // probability that a visible object is missed in a frame
    double classConfusion = 0.0;  // probability that a detection reports the wrong class
    double trackTimeout = 1.0;    // seconds unseen before the track is deleted
    double mergeOverlap = 0.5;    // scene feed: overlap (IoU) at which two tracks merge
    double splitOverlap = 0.2;    // scene feed: overlap below which they split again
    double occludedShare = 0.6;   // share of a box hidden by nearer things that hides the object
    bool objectOcclusion = false; // objects hide each other, not only occluders
    unsigned seed = 1;
    // The class list the detector information reports (default: the
    // built-in classes below). May be empty.
    std::optional<std::vector<DetectorClassSpec>> classes;
};

struct Scenario {
    std::string name;
    std::string description;
    CameraSpec camera;
    std::vector<PresetSpec> presets;
    DetectorSpec detector;
    std::vector<ObjectSpec> objects;
    std::vector<OccluderSpec> occluders;
    std::optional<double> duration; // with `loop`, the scene restarts after this
    bool loop = false;
};

class ScenarioError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Parses a scenario; throws ScenarioError naming the offending key.
Scenario parseScenario(const std::string& jsonText);
Scenario loadScenario(const std::string& path);

// Classes the detector knows (id, name as in its class list), and how a
// scenario class maps onto them and onto the analytics type names.
struct DetectorClass {
    unsigned id;
    const char* name;
    float threshold; // calibrated score threshold, percent
};
const std::vector<DetectorClass>& detectorClasses();
// Detector class id of a scenario class; -1 when unknown.
int detectorClassOf(const std::string& cls);
// Analytics "type" of a scenario class ("Human", "Car", ...).
std::string analyticsTypeOf(const std::string& cls);
bool knownClass(const std::string& cls);

// Ground position of an object at scenario time t, or nothing when it is not
// in the scene (before `enter`, after `exit`).
struct GroundPosition {
    double x = 0.0;
    double y = 0.0;
    bool moving = false;
};
std::optional<GroundPosition> objectPositionAt(const ObjectSpec& object, double t);

} // namespace camsim::feeds
