// What goes on the wire: our encoders against our decoder, and against an
// independent one (protoc --decode over the same .proto files).
#include <cstdio>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include <gtest/gtest.h>

#include "encoders.h"
#include "scene.pb-c.h"
#include "support/temp_dir.h"
#include "vod.pb-c.h"

using namespace camsim::feeds;

namespace
{

Frame sampleFrame()
{
    Frame f;
    f.captureNs = 1234567890123;
    f.realtimeNs = 1700000000000000000;
    Detection d;
    d.id = 3;
    d.detClass = 1;
    d.analyticsType = "Car";
    d.box = {-0.5f, 0.25f, -0.125f, -0.75f};
    d.score = 87;
    d.status = kTrackedConfident;
    f.detections.push_back(d);
    d.id = 9;
    d.detClass = 0;
    d.analyticsType = "Human";
    d.box = {0.5f, 0.5f, 0.625f, 0.0f};
    d.score = 55;
    d.status = kUntracked;
    f.detections.push_back(d);
    f.vodEvents.push_back({kVodDelete, 2, {}});
    f.vodEvents.push_back({kVodConnect, 4, {9, 11}});
    SceneObject so;
    so.id = 3;
    so.confidence = 1.0f;
    so.box = {-0.5f, 0.25f, -0.125f, -0.75f};
    so.vx = 0.25f;
    so.vy = -0.5f;
    f.sceneObjects.push_back(so);
    so.id = 9;
    so.confidence = 0.5f;
    so.lowConfidence = true;
    f.sceneObjects.push_back(so);
    f.sceneEvents.push_back({kSceneMerge, 3, {5}});
    return f;
}

// Runs protoc --decode on bytes; returns its text output.
std::string protocDecode(const std::string& type, const std::string& proto, const Bytes& bytes)
{
    testsupport::TempDir dir("protoc");
    std::string in = dir.file("in.bin");
    std::ofstream(in, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    std::string cmd =
        std::string(PROTOC) + " --decode=" + type + " -I " + PROTO_DIR + " " + proto + " < " + in;
    std::FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr)
        return "";
    std::string out;
    char buf[4096];
    while (std::size_t n = std::fread(buf, 1, sizeof buf, p))
        out.append(buf, n);
    EXPECT_EQ(pclose(p), 0) << cmd;
    return out;
}

// The "key: value" lines of protoc's text format, in order, without nesting.
std::vector<std::pair<std::string, std::string>> fields(const std::string& text)
{
    std::vector<std::pair<std::string, std::string>> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        auto start = line.find_first_not_of(' ');
        auto colon = line.find(": ");
        if (start == std::string::npos || colon == std::string::npos)
            continue;
        out.emplace_back(line.substr(start, colon - start), line.substr(colon + 2));
    }
    return out;
}

Bytes protocEncode(const std::string& type, const std::string& proto, const std::string& text)
{
    testsupport::TempDir dir("protoc");
    std::string in = dir.file("in.txt"), out = dir.file("out.bin");
    std::ofstream(in) << text;
    std::string cmd = std::string(PROTOC) + " --encode=" + type + " -I " + PROTO_DIR + " " + proto +
                      " < " + in + " > " + out;
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    std::ifstream f(out, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), {});
}

TEST(Encoding, VodSceneRoundTripsThroughProtobufC)
{
    Bytes bytes = encodeVodScene(sampleFrame());
    VOD__Scene* s = vod__scene__unpack(nullptr, bytes.size(), bytes.data());
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->timestamp, 1234567890123u);
    ASSERT_EQ(s->n_detections, 2u);
    EXPECT_EQ(s->detections[0]->id, 3u);
    EXPECT_EQ(s->detections[0]->det_class, 1u);
    EXPECT_FLOAT_EQ(s->detections[0]->left, -0.5f);
    EXPECT_FLOAT_EQ(s->detections[0]->bottom, -0.75f);
    EXPECT_EQ(s->detections[0]->detection_status,
              VOD__DETECTION__DETECTION_STATUS__TRACKED_CONFIDENT);
    ASSERT_EQ(s->n_events, 2u);
    EXPECT_EQ(s->events[1]->action, VOD__EVENT_ACTION__EVENT_CONNECT);
    ASSERT_EQ(s->events[1]->n_object_ids, 2u);
    EXPECT_EQ(s->events[1]->object_ids[1], 11);
    vod__scene__free_unpacked(s, nullptr);
}

TEST(Encoding, ProtocDecodesVodSceneAsWeDo)
{
    Bytes bytes = encodeVodScene(sampleFrame());
    auto f = fields(protocDecode("VOD.Scene", "vod.proto", bytes));
    std::vector<std::pair<std::string, std::string>> expected = {
        {"timestamp", "1234567890123"},
        {"left", "-0.5"},
        {"top", "0.25"},
        {"right", "-0.125"},
        {"bottom", "-0.75"},
        {"id", "3"},
        {"det_class", "1"},
        {"score", "87"},
        {"detection_status", "TRACKED_CONFIDENT"},
        {"left", "0.5"},
        {"top", "0.5"},
        {"right", "0.625"},
        // bottom 0, det_class 0 and status 0 are defaults: not on the wire
        {"id", "9"},
        {"score", "55"},
        {"object_id", "2"}, // action EVENT_DELETE is the default
        {"action", "EVENT_CONNECT"},
        {"object_id", "4"},
        {"object_ids", "9"},
        {"object_ids", "11"},
    };
    EXPECT_EQ(f, expected);
}

TEST(Encoding, ProtocDecodesFramedSceneAsWeDo)
{
    Bytes framed = encodeFramedScene(sampleFrame(), kSceneVelocity | kSceneBox);
    ASSERT_GE(framed.size(), 4u);
    std::uint32_t word =
        (std::uint32_t{framed[0]} << 24) | (framed[1] << 16) | (framed[2] << 8) | framed[3];
    EXPECT_EQ(word, framed.size());
    Bytes body(framed.begin() + 4, framed.end());
    auto f = fields(protocDecode("Scene.Scene", "scene.proto", body));
    std::map<std::string, int> count;
    for (auto& [k, v] : f)
        count[k]++;
    EXPECT_EQ(f.at(0), (std::pair<std::string, std::string>{"time", "1234567890123"}));
    EXPECT_EQ(f.at(1), (std::pair<std::string, std::string>{"real_time", "1700000000000000000"}));
    EXPECT_EQ(count["id"], 1); // the low-confidence object is left out
    EXPECT_EQ(count["vx"], 1);
    EXPECT_EQ(count["left"], 1);
    EXPECT_EQ(count["action"], 1);

    Scene__Scene* s = scene__scene__unpack(nullptr, body.size(), body.data());
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(s->n_objects, 1u);
    EXPECT_EQ(s->objects[0]->id_opt_case, SCENE__OBJECT__ID_OPT_ID);
    EXPECT_FLOAT_EQ(s->objects[0]->velocity->vy, -0.5f);
    EXPECT_EQ(s->events[0]->action, SCENE__EVENT_ACTION__EVENT_MERGE);
    scene__scene__free_unpacked(s, nullptr);
}

TEST(Encoding, SceneOptionsSelectWhatIsSent)
{
    Bytes framed = encodeFramedScene(sampleFrame(), kSceneLowConfident);
    Scene__Scene* s = scene__scene__unpack(nullptr, framed.size() - 4, framed.data() + 4);
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(s->n_objects, 2u);
    EXPECT_EQ(s->objects[0]->bounding_box_opt_case, SCENE__OBJECT__BOUNDING_BOX_OPT__NOT_SET);
    EXPECT_EQ(s->objects[0]->velocity_opt_case, SCENE__OBJECT__VELOCITY_OPT__NOT_SET);
    EXPECT_FLOAT_EQ(s->objects[1]->confidence, 0.5f);
    scene__scene__free_unpacked(s, nullptr);
}

TEST(Encoding, SceneWithoutTimeDecodesAsAbsentAndZeroTimeAsPresent)
{
    // Written by an independent encoder: no time at all.
    Bytes none = protocEncode("Scene.Scene", "scene.proto", "objects { id: 4 confidence: 0.99 }\n");
    Scene__Scene* s = scene__scene__unpack(nullptr, none.size(), none.data());
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->time_opt_case, SCENE__SCENE__TIME_OPT__NOT_SET);
    EXPECT_EQ(s->objects[0]->bounding_box_opt_case, SCENE__OBJECT__BOUNDING_BOX_OPT__NOT_SET);
    scene__scene__free_unpacked(s, nullptr);

    // An explicit zero is on the wire and reads back as present.
    Bytes zero = protocEncode("Scene.Scene", "scene.proto", "time: 0\n");
    EXPECT_FALSE(zero.empty());
    s = scene__scene__unpack(nullptr, zero.size(), zero.data());
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->time_opt_case, SCENE__SCENE__TIME_OPT_TIME);
    EXPECT_EQ(s->time, 0u);
    scene__scene__free_unpacked(s, nullptr);

    // And an empty message (length word 4) is a valid, empty scene.
    s = scene__scene__unpack(nullptr, 0, nullptr);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->n_objects, 0u);
    scene__scene__free_unpacked(s, nullptr);
}

TEST(Encoding, DetectorInformationListsCalibratedClasses)
{
    Bytes bytes = encodeDetectorInformation(0);
    VOD__DetectorInformation* info =
        vod__detector_information__unpack(nullptr, bytes.size(), bytes.data());
    ASSERT_NE(info, nullptr);
    ASSERT_EQ(info->n_classes, 7u);
    EXPECT_STREQ(info->classes[0]->name, "human");
    EXPECT_STREQ(info->classes[6]->name, "animal");
    // The best calibration by F1 carries the class threshold.
    const VOD__ObjectClass* c = info->classes[0];
    ASSERT_EQ(c->n_calibrations, 2u);
    auto f1 = [](const VOD__Calibration* k) {
        return 2 * k->precision * k->recall / (k->precision + k->recall);
    };
    EXPECT_GT(f1(c->calibrations[1]), f1(c->calibrations[0]));
    EXPECT_FLOAT_EQ(c->calibrations[1]->threshold, 40.0f);
    vod__detector_information__free_unpacked(info, nullptr);
    auto text = protocDecode("VOD.DetectorInformation", "vod.proto", bytes);
    EXPECT_NE(text.find("name: \"motorcycle_bicycle\""), std::string::npos);
    EXPECT_NE(text.find("compute_chip: COMPUTE_CHIP_CPU"), std::string::npos);
}

TEST(Encoding, AnalyticsPayloadInPictureFractions)
{
    Frame f = sampleFrame();
    auto j = nlohmann::json::parse(encodeAnalytics(f));
    auto& obs = j["frame"]["observations"];
    ASSERT_EQ(obs.size(), 2u);
    EXPECT_EQ(obs[0]["track_id"], "3");
    EXPECT_EQ(obs[0]["class"]["type"], "Car");
    EXPECT_DOUBLE_EQ(obs[0]["class"]["score"].get<double>(), 0.87);
    // Device box u -0.5..-0.125, v 0.25..-0.75 -> x 0.25..0.4375, y 0.375..0.875.
    EXPECT_DOUBLE_EQ(obs[0]["bounding_box"]["left"].get<double>(), 0.25);
    EXPECT_DOUBLE_EQ(obs[0]["bounding_box"]["right"].get<double>(), 0.4375);
    EXPECT_DOUBLE_EQ(obs[0]["bounding_box"]["top"].get<double>(), 0.375);
    EXPECT_DOUBLE_EQ(obs[0]["bounding_box"]["bottom"].get<double>(), 0.875);
    // A picture turned half a turn shows the same box mirrored.
    f.rotation = 180;
    auto r = nlohmann::json::parse(encodeAnalytics(f));
    auto& b = r["frame"]["observations"][0]["bounding_box"];
    EXPECT_DOUBLE_EQ(b["left"].get<double>(), 0.5625);
    EXPECT_DOUBLE_EQ(b["right"].get<double>(), 0.75);
    EXPECT_DOUBLE_EQ(b["top"].get<double>(), 0.125);
    EXPECT_DOUBLE_EQ(b["bottom"].get<double>(), 0.625);
}

} // namespace
