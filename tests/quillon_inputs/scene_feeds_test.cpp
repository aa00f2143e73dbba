// The scene-feed and analytics clients through the real stand-in libraries
// and camsim: boxes and velocities against camsim's own view of the scene,
// both picture rotations, bad broker payloads, a late broker, a camsim
// restart and a delayed feed.
#include <atomic>
#include <fstream>
#include <mutex>
#include <sstream>

#include <gtest/gtest.h>

#include "feeds_fixture.h"
#include "quillon/core/channel.h"
#include "quillon/inputs/fusion/fusion_client.h"
#include "quillon/inputs/kine/kine_client.h"
#include "quillon/inputs/kine/kine_scene_update_message.h"
#include "support/wait.h"

namespace quillon
{
namespace
{

using std::chrono::seconds;
using testsupport::waitFor;

std::string scenario(const std::string& name)
{
    std::ifstream in(std::string(SCENARIO_DIR) + "/" + name + ".json");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// One observed box: the scene time and the centre of the first object.
struct Seen {
    std::int64_t sceneTimeUs = 0;
    int id = -1;
    Point centre;
    float vx = 0.0f;
    std::size_t objects = 0;
};

// What both clients deliver, from their threads.
class Collector
{
public:
    void add(const TrackerScene& scene, std::int64_t decodedAtUs = 0)
    {
        Seen s;
        s.sceneTimeUs = scene.sceneTimeUs;
        s.objects = scene.objects.size();
        for (const auto& o : scene.objects) {
            if (o->objectType != -1 && o->objectType != 1)
                continue; // scene-engine objects, or analytics humans
            s.id = o->id;
            s.centre = o->getBox().centre();
            s.vx = o->velocityX;
            break;
        }
        std::lock_guard<std::mutex> g(lock);
        seen.push_back(s);
        for (const auto& o : scene.objects)
            ids.push_back(o->id);
        if (decodedAtUs != 0)
            lagUs = decodedAtUs - scene.sceneTimeUs;
    }
    void clear()
    {
        std::lock_guard<std::mutex> g(lock);
        seen.clear();
        ids.clear();
    }
    std::size_t count() const
    {
        std::lock_guard<std::mutex> g(lock);
        return seen.size();
    }
    // The delivery closest in scene time to `t`, once one at or after it
    // arrived.
    bool closestTo(std::int64_t t, Seen& out)
    {
        return waitFor(
            [&] {
                std::lock_guard<std::mutex> g(lock);
                if (seen.empty() || seen.back().sceneTimeUs < t)
                    return false;
                out = seen.front();
                for (const Seen& s : seen)
                    if (std::llabs(s.sceneTimeUs - t) < std::llabs(out.sceneTimeUs - t))
                        out = s;
                return true;
            },
            seconds(20));
    }
    bool sawId(int id) const
    {
        std::lock_guard<std::mutex> g(lock);
        return std::find(ids.begin(), ids.end(), id) != ids.end();
    }
    std::int64_t lastLagUs() const
    {
        std::lock_guard<std::mutex> g(lock);
        return lagUs;
    }

private:
    mutable std::mutex lock;
    std::vector<Seen> seen;
    std::vector<int> ids;
    std::int64_t lagUs = 0;
};

// Folds every KineSceneUpdateMessage into a scene and hands it on.
class KineReceiver : public MessageReceiver
{
public:
    explicit KineReceiver(Collector& c) : collector(c) {}
    void handleMessage(const std::shared_ptr<Message>& message) override
    {
        auto m = std::dynamic_pointer_cast<KineSceneUpdateMessage>(message);
        if (!m)
            return;
        TrackerScene scene(m->update.sceneTimeUs);
        for (const KineObject& o : m->update.objects)
            scene.addObject(std::make_shared<KineObject>(o), true);
        collector.add(scene, m->decodedAtUs);
    }
    void prepareToShutdown() override {}

private:
    Collector& collector;
};

// camsim's own view of the walker: its device box centre, when it is well
// off the picture centre (so that a mirrored box could not pass).
struct Truth {
    std::int64_t atUs;
    Point centre;
};

bool walkerTruth(feedstest::CamsimFeeds& cam, Truth& out)
{
    return waitFor(
        [&] {
            const std::int64_t before = monotonicNowUs();
            nlohmann::json objects = cam.control({{"cmd", "objects"}})["objects"];
            const std::int64_t after = monotonicNowUs();
            if (objects.empty() || !objects[0].value("in_picture", false))
                return false;
            const auto& b = objects[0]["box"];
            out.centre = {(b[0].get<float>() + b[2].get<float>()) / 2,
                          (b[1].get<float>() + b[3].get<float>()) / 2};
            out.atUs = (before + after) / 2;
            return std::fabs(out.centre.x) > 0.25f && std::fabs(out.centre.x) < 0.8f;
        },
        seconds(30));
}

class ClientFeeds : public ::testing::Test
{
protected:
    void TearDown() override
    {
        kine.reset();
        fusion.reset();
        bus.stop();
        cam.reset();
    }
    void startKine()
    {
        receiver = std::make_shared<KineReceiver>(collector);
        bus.subscribe(receiver);
        kine = std::make_unique<KineClient>(0, bus);
        kine->start();
    }
    void startFusion(int rotation)
    {
        fusion = std::make_unique<FusionClient>(1);
        fusion->setRotation(rotation);
        fusion->start([this](TrackerScene& s, void*) { collector.add(s); }, nullptr);
    }
    bool more(std::size_t n)
    {
        const std::size_t from = collector.count();
        return waitFor([&] { return collector.count() >= from + n; }, seconds(30));
    }

    Channel bus;
    Collector collector;
    std::unique_ptr<feedstest::CamsimFeeds> cam;
    std::shared_ptr<KineReceiver> receiver;
    std::unique_ptr<KineClient> kine;
    std::unique_ptr<FusionClient> fusion;
};

TEST_F(ClientFeeds, KineBoxesAndVelocityMatchCamsimAndRecoverAfterRestart)
{
    cam = std::make_unique<feedstest::CamsimFeeds>(scenario("person-walking"));
    startKine();
    ASSERT_TRUE(waitFor([&] { return kine->connected(); }, seconds(20)));
    for (int sample = 0; sample < 3; sample++) {
        Truth truth;
        ASSERT_TRUE(walkerTruth(*cam, truth));
        Seen seen;
        ASSERT_TRUE(collector.closestTo(truth.atUs, seen));
        ASSERT_GE(seen.id, 0);
        EXPECT_NEAR(seen.centre.x, truth.centre.x, 0.1) << sample;
        EXPECT_NEAR(seen.centre.y, truth.centre.y, 0.1) << sample;
        // Walking from left to right: u grows.
        EXPECT_GT(seen.vx, 0.0f) << sample;
    }

    cam->stop();
    ASSERT_TRUE(waitFor([&] { return !kine->connected(); }, seconds(20)));
    cam->start();
    ASSERT_TRUE(waitFor([&] { return kine->connected(); }, seconds(30)));
    EXPECT_TRUE(more(10));
}

TEST_F(ClientFeeds, DelayedSceneFeedArrivesLater)
{
    cam = std::make_unique<feedstest::CamsimFeeds>(scenario("person-walking"));
    startKine();
    ASSERT_TRUE(more(5));
    EXPECT_LT(collector.lastLagUs(), 600000);
    nlohmann::json faults =
        cam->control({{"cmd", "feeds-fault"}, {"mode", "delay"}, {"ms", 600}, {"feed", "scene"}});
    EXPECT_EQ(faults.value("scene_delay_ms", 0), 600);
    ASSERT_TRUE(waitFor([&] { return collector.lastLagUs() >= 650000; }, seconds(20)));
    cam->control({{"cmd", "feeds-fault"}, {"mode", "none"}, {"feed", "scene"}});
    ASSERT_TRUE(waitFor([&] { return collector.lastLagUs() < 600000; }, seconds(20)));
}

TEST_F(ClientFeeds, AnalyticsBoxesMatchCamsimAtBothRotations)
{
    for (const char* name : {"person-walking", "person-walking-180"}) {
        SCOPED_TRACE(name);
        cam = std::make_unique<feedstest::CamsimFeeds>(scenario(name));
        collector.clear();
        startFusion(std::string(name).find("180") != std::string::npos ? 180 : 0);
        for (int sample = 0; sample < 3; sample++) {
            Truth truth;
            ASSERT_TRUE(walkerTruth(*cam, truth));
            Seen seen;
            ASSERT_TRUE(collector.closestTo(truth.atUs, seen));
            ASSERT_GE(seen.id, 0);
            EXPECT_NEAR(seen.centre.x, truth.centre.x, 0.1) << sample;
            EXPECT_NEAR(seen.centre.y, truth.centre.y, 0.1) << sample;
        }
        fusion.reset();
        cam.reset();
    }
}

TEST_F(ClientFeeds, BadAnalyticsPayloadsAreDroppedWhileMessagesFlow)
{
    cam = std::make_unique<feedstest::CamsimFeeds>(scenario("empty"));
    startFusion(0);
    ASSERT_TRUE(more(3));
    const char* garbage[] = {
        "not json",
        "{\"frame\":{\"observations\":[{\"track_id\":\"x\"}]}}",
        "{\"frame\":{\"observations\":[{\"track_id\":\"5\",\"class\":{\"type\":\"Human\","
        "\"score\":7},\"bounding_box\":{\"left\":0,\"right\":1,\"top\":0,\"bottom\":1}}]}}",
        "[]",
    };
    for (const char* g : garbage) {
        nlohmann::json r = cam->control({{"cmd", "mbx-publish"}, {"payload", g}});
        EXPECT_GE(r.value("sent", 0), 1) << g;
    }
    // An unknown class beside a known one; it comes after the garbage on the
    // same connection, so seeing it means the garbage went through first.
    cam->control(
        {{"cmd", "mbx-publish"},
         {"payload",
          "{\"frame\":{\"observations\":["
          "{\"track_id\":\"998\",\"class\":{\"type\":\"Animal\",\"score\":0.9},"
          "\"bounding_box\":{\"left\":0.1,\"right\":0.2,\"top\":0.1,\"bottom\":0.2}},"
          "{\"track_id\":\"997\",\"class\":{\"type\":\"Human\",\"score\":0.9},"
          "\"bounding_box\":{\"left\":0.1,\"right\":0.2,\"top\":0.1,\"bottom\":0.2}}]}}"}});
    ASSERT_TRUE(waitFor([&] { return collector.sawId(997); }, seconds(20)));
    EXPECT_FALSE(collector.sawId(998));
    EXPECT_FALSE(collector.sawId(5));
    EXPECT_TRUE(more(3));
}

TEST_F(ClientFeeds, AnalyticsScenesArriveWhenTheBrokerComesUpLate)
{
    cam = std::make_unique<feedstest::CamsimFeeds>(scenario("person-walking"));
    cam->stop();
    startFusion(0);
    EXPECT_FALSE(fusion->subscribed());
    // Five seconds without a broker: the client keeps trying.
    ASSERT_TRUE(waitFor([&] { return fusion->attempts() >= 2; }, seconds(20)));
    ASSERT_TRUE(waitFor([&] { return fusion->attempts() >= 3; }, seconds(20)));
    EXPECT_EQ(collector.count(), 0u);
    cam->start();
    EXPECT_TRUE(more(5));
    EXPECT_TRUE(fusion->subscribed());
    // Stopped, it tries no more.
    fusion->stop();
    const std::uint64_t attempts = fusion->attempts();
    cam->stop();
    fusion->start([](TrackerScene&, void*) {}, nullptr);
    fusion->stop();
    EXPECT_EQ(fusion->attempts(), attempts + 1);
}

} // namespace
} // namespace quillon
