// Scenario files: parsing, refusals that name the key, and object motion.
#include <cmath>
#include <filesystem>

#include <gtest/gtest.h>

#include "scenario.h"

using namespace camsim::feeds;

namespace
{

std::string errorOf(const std::string& text)
{
    try {
        parseScenario(text);
    } catch (const ScenarioError& e) {
        return e.what();
    }
    return "";
}

TEST(Scenario, DefaultsAndFields)
{
    Scenario s =
        parseScenario(R"({"name": "s", "camera": {"height": 6, "pan": 10, "tilt": -20, "zoom": 2},
        "presets": [{"number": 4, "name": "Gate", "pan": 5}],
        "objects": [{"class": "car", "path": [{"x": 1, "y": 2}, {"t": 4, "x": 3, "y": 2}]}]})");
    EXPECT_EQ(s.name, "s");
    EXPECT_DOUBLE_EQ(s.camera.height, 6);
    EXPECT_DOUBLE_EQ(s.detector.fps, 15);
    EXPECT_DOUBLE_EQ(s.detector.latencyMs, 100);
    ASSERT_EQ(s.presets.size(), 1u);
    EXPECT_EQ(s.presets[0].number, 4u);
    ASSERT_EQ(s.objects.size(), 1u);
    EXPECT_EQ(s.objects[0].name, "object1");
    EXPECT_DOUBLE_EQ(s.objects[0].width, 1.8); // class default for a car
    EXPECT_DOUBLE_EQ(s.objects[0].enter, 0.0);
    EXPECT_FALSE(s.objects[0].exit.has_value());
}

TEST(Scenario, RefusalsNameTheKey)
{
    EXPECT_NE(errorOf("{").find("not valid JSON"), std::string::npos);
    EXPECT_NE(errorOf("[]").find("scenario"), std::string::npos);
    EXPECT_NE(errorOf(R"({"objects": [{"class": "human"}]})").find("objects[0].path"),
              std::string::npos);
    EXPECT_NE(errorOf(R"({"objects": [{"class": "ufo", "path": [{"x": 0, "y": 1}]}]})")
                  .find("objects[0].class"),
              std::string::npos);
    EXPECT_NE(
        errorOf(R"({"objects": [{"path": [{"t": 2, "x": 0, "y": 1}, {"t": 1, "x": 0, "y": 2}]}]})")
            .find("objects[0].path[1].t"),
        std::string::npos);
    EXPECT_NE(errorOf(R"({"objects": [{"path": [{"x": "a", "y": 1}]}]})").find("path[0].x"),
              std::string::npos);
    EXPECT_NE(errorOf(R"({"detector": {"fps": 0}})").find("detector.fps"), std::string::npos);
    EXPECT_NE(errorOf(R"({"camera": {"rotation": 90}})").find("camera.rotation"),
              std::string::npos);
    EXPECT_NE(errorOf(R"({"loop": true})").find("duration"), std::string::npos);
    EXPECT_NE(errorOf(R"({"objects": [{"path": [{"x": 0, "y": 1}], "enter": 5, "exit": 2}]})")
                  .find("exit"),
              std::string::npos);
    // Occlusion, score windows and pan stops.
    const std::pair<const char*, const char*> refused[] = {
        {R"({"occluders": [{"y": 3}]})", "occluders[0].x"},
        {R"({"occluders": [{"x": 1, "y": 3, "width": 0}]})", "occluders[0].width"},
        {R"({"occluders": {}})", "scenario.occluders"},
        {R"({"detector": {"occluded_share": 0}})", "detector.occluded_share"},
        {R"({"detector": {"object_occlusion": 1}})", "detector.object_occlusion"},
        {R"({"objects": [{"path": [{"x": 0, "y": 1}], "score_windows": [{"from": 3, "to": 2}]}]})",
         "objects[0].score_windows[0].to"},
        {R"({"objects": [{"path": [{"x": 0, "y": 1}], "score_windows": [{"to": 2}]}]})",
         "objects[0].score_windows[0].from"},
        {R"({"objects": [{"path": [{"x": 0, "y": 1}],
              "score_windows": [{"from": 1, "to": 2, "score": 0}]}]})",
         "objects[0].score_windows[0].score"},
        {R"({"camera": {"pan_min": 10, "pan_max": -10}})", "camera.pan_max"},
        {R"({"camera": {"pan": 50, "pan_max": 40}})", "camera.pan"},
        {R"({"camera": {"pan_min": -200}})", "camera.pan_min"},
    };
    for (const auto& [text, key] : refused)
        EXPECT_NE(errorOf(text).find(key), std::string::npos) << text << " -> " << errorOf(text);
}

TEST(Scenario, OccludersScoreWindowsPanStopsAndAnIgnoredReport)
{
    Scenario s = parseScenario(R"({"camera": {"pan_min": -45, "pan_max": 60},
        "detector": {"object_occlusion": true, "occluded_share": 0.5},
        "occluders": [{"name": "van", "x": 2, "y": 9, "width": 3, "height": 2.5}, {"x": 0, "y": 4}],
        "objects": [{"path": [{"x": 0, "y": 1}], "score_windows": [{"from": 1, "to": 4}]}],
        "report": {"target": "object1", "phases": "anything: camsim does not read it"}})");
    EXPECT_DOUBLE_EQ(s.camera.panMin, -45);
    EXPECT_DOUBLE_EQ(s.camera.panMax, 60);
    EXPECT_TRUE(s.detector.objectOcclusion);
    EXPECT_DOUBLE_EQ(s.detector.occludedShare, 0.5);
    ASSERT_EQ(s.occluders.size(), 2u);
    EXPECT_EQ(s.occluders[0].name, "van");
    EXPECT_DOUBLE_EQ(s.occluders[0].width, 3);
    EXPECT_EQ(s.occluders[1].name, "occluder2");
    EXPECT_DOUBLE_EQ(s.occluders[1].height, 2.0);
    ASSERT_EQ(s.objects[0].scoreWindows.size(), 1u);
    EXPECT_DOUBLE_EQ(s.objects[0].scoreWindows[0].score, 20); // the default low score
    Scenario plain = parseScenario("{}");
    EXPECT_FALSE(plain.detector.objectOcclusion);
    EXPECT_DOUBLE_EQ(plain.camera.panMin, -180);
    EXPECT_DOUBLE_EQ(plain.camera.panMax, 180);
}

TEST(Scenario, MotionWithEntryExitAndPause)
{
    Scenario s = parseScenario(
        R"({"objects": [{"path": [{"t": 0, "x": 0, "y": 10}, {"t": 10, "x": 10, "y": 10}],
        "enter": 1, "exit": 40, "pauses": [{"at": 5, "duration": 20}]}]})");
    const ObjectSpec& o = s.objects[0];
    EXPECT_FALSE(objectPositionAt(o, 0.5).has_value());
    EXPECT_NEAR(objectPositionAt(o, 2)->x, 2.0, 1e-9);
    EXPECT_TRUE(objectPositionAt(o, 2)->moving);
    // Paused from 5 to 25 at x = 5.
    EXPECT_NEAR(objectPositionAt(o, 5)->x, 5.0, 1e-9);
    EXPECT_NEAR(objectPositionAt(o, 20)->x, 5.0, 1e-9);
    EXPECT_FALSE(objectPositionAt(o, 20)->moving);
    // Then the rest of the path, delayed by the pause.
    EXPECT_NEAR(objectPositionAt(o, 27)->x, 7.0, 1e-9);
    EXPECT_NEAR(objectPositionAt(o, 39)->x, 10.0, 1e-9);
    EXPECT_FALSE(objectPositionAt(o, 40).has_value());
}

TEST(Scenario, PolarWaypointsMoveAlongTheArc)
{
    Scenario s = parseScenario(R"({"objects": [{"path": [{"t": 0, "pan": 0, "distance": 20},
        {"t": 10, "pan": 90, "distance": 20}, {"t": 20, "pan": 90, "distance": 30}]}]})");
    const ObjectSpec& o = s.objects[0];
    for (double t : {0.0, 3.0, 5.0, 10.0}) {
        auto p = objectPositionAt(o, t);
        ASSERT_TRUE(p.has_value());
        // Exactly 9 degrees per second, always 20 m away.
        EXPECT_NEAR(std::atan2(p->x, p->y) * 180 / M_PI, 9.0 * t, 1e-9) << t;
        EXPECT_NEAR(std::hypot(p->x, p->y), 20.0, 1e-9) << t;
    }
    EXPECT_NEAR(objectPositionAt(o, 15)->x, 25.0, 1e-9);
    EXPECT_TRUE(objectPositionAt(o, 5)->moving);

    EXPECT_NE(errorOf(R"({"objects": [{"path": [{"pan": 0}]}]})").find("path[0].distance"),
              std::string::npos);
    EXPECT_NE(errorOf(R"({"objects": [{"path": [{"pan": 0, "distance": 5, "x": 1}]}]})")
                  .find("either x and y or pan and distance"),
              std::string::npos);
    EXPECT_NE(errorOf(R"({"objects": [{"path": [{"pan": 0, "distance": 0}]}]})").find("distance"),
              std::string::npos);
}

TEST(Scenario, ShippedScenariosLoad)
{
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(SCENARIO_DIR)) {
        if (entry.path().extension() != ".json")
            continue;
        EXPECT_NO_THROW(loadScenario(entry.path().string())) << entry.path();
        count++;
    }
    EXPECT_GE(count, 6);
}

} // namespace
