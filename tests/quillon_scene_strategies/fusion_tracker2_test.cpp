// FusionTracker2 on hand-built scenes: the four ways a pair goes on, the
// tracked id following its pair, the detection frame picked by time and the
// bound of the detection history.
#include <gtest/gtest.h>

#include "quillon/tracking/strategies/fusion_tracker2.h"
#include "scene_builders.h"

namespace scenetest
{
namespace
{

constexpr Rect kCentre{-0.1f, 0.1f, -0.1f, 0.1f};
constexpr Rect kAside{0.5f, 0.7f, 0.3f, 0.5f};

struct PairCase {
    const char* name;
    std::vector<Det> dets;
    std::vector<VodEvent> detEvents;
    std::vector<Kine> kines;
    std::vector<KineEvent> kineEvents;
    std::map<int, int> pairs; // detection id -> scene-engine id
    int tracked;              // tracked fused id afterwards (tracking 50 before)
    const char* logLine;
};

TEST(FusionTracker2, PairCases)
{
    PairCase cases[] = {
        {"both present", {{50, kCentre}}, {}, {{5, kCentre}}, {}, {{50, 5}}, 50, nullptr},
        {"detection stays, scene-engine object replaced",
         {{50, kCentre}},
         {},
         {{6, kCentre}},
         {kineDelete(5)},
         {{50, 6}},
         50,
         nullptr},
        {"unconfident detection stays, scene-engine object gone: pair ends",
         {{50, kCentre, 10}},
         {},
         {{6, kCentre}},
         {kineDelete(5)},
         {},
         -1,
         "didn't find it in fusion stage, internal error? removed"},
        {"detection replaced, scene-engine object stays",
         {{51, kCentre}},
         {vodDelete(50)},
         {{5, kCentre}},
         {},
         {{51, 5}},
         51,
         "dropped VOD / found new similar VOD (kine ok)"},
        {"both replaced by a similar detection",
         {{51, kCentre}},
         {vodDelete(50)},
         {},
         {kineDelete(5)},
         {{51, 5}},
         51,
         "dropped VOD / found new similar VOD (kine also gone)"},
        {"both gone, nothing similar",
         {{51, kAside}},
         {vodDelete(50)},
         {},
         {kineDelete(5)},
         {},
         -1,
         "dropped VOD no similar best:"},
    };
    for (const PairCase& c : cases) {
        for (bool tracking : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (tracking ? ", tracking" : ""));
            Reports reports;
            FusionTracker2 t(1, reports.callback(), nullptr, noFeeds());
            t.detectionStep(*detections(kSecond, {{50, kCentre}}));
            t.kineStep(kineUpdate(kSecond, {{5, kCentre}}));
            ASSERT_EQ(ids(reports.last()), std::vector<int>{50});
            if (tracking) {
                ASSERT_TRUE(t.setTrackingObject(50, false));
            }

            const std::int64_t next = kSecond + 66000;
            t.detectionStep(*detections(next, c.dets, c.detEvents));
            captureLog();
            t.kineStep(kineUpdate(next, c.kines, c.kineEvents));
            const std::string log = capturedLog();

            std::map<int, int> pairs;
            for (const auto& [key, p] : t.pairs())
                pairs[key] = p.kineId;
            EXPECT_EQ(pairs, c.pairs);
            const TrackerScene& s = reports.last();
            std::vector<int> want;
            for (const auto& [key, kine] : c.pairs)
                want.push_back(key);
            EXPECT_EQ(ids(s), want);
            for (const auto& o : s.objects)
                EXPECT_EQ(o->source, kSourceFused);
            if (tracking) {
                EXPECT_EQ(t.trackedId(), c.tracked);
                EXPECT_EQ(s.trackedId, c.tracked);
                if (c.logLine != nullptr) {
                    EXPECT_NE(log.find(c.logLine), std::string::npos) << log;
                }
            } else {
                EXPECT_EQ(log.find("fusion stage"), std::string::npos) << log;
            }
        }
    }
}

TEST(FusionTracker2, NewDetectionsPairOnlyWhenConfidentAndOverlapping)
{
    Reports reports;
    FusionTracker2 t(1, reports.callback(), nullptr, noFeeds());
    // 60: confident, same box; 61: score 29; 62: overlaps by less than 0.5.
    t.detectionStep(
        *detections(kSecond, {{60, kCentre}, {61, kAside, 29}, {62, {0.0f, 0.3f, -0.1f, 0.1f}}}));
    t.kineStep(kineUpdate(kSecond, {{5, kCentre}, {6, kAside}, {7, {0.2f, 0.3f, -0.1f, 0.1f}}}));
    std::map<int, int> pairs;
    for (const auto& [key, p] : t.pairs())
        pairs[key] = p.kineId;
    EXPECT_EQ(pairs, (std::map<int, int>{{60, 5}}));
    // The fused object: detection class and confidence, scene-engine velocity.
    ASSERT_EQ(ids(reports.last()), std::vector<int>{60});
}

TEST(FusionTracker2, PicksTheDetectionFrameClosestInTime)
{
    struct Case {
        std::int64_t kineUs;
        int pick;
    } cases[] = {{1140000, 1}, {1150000, 1}, {1160000, 2}, {900000, 0}, {5000000, 2}};
    for (const Case& c : cases) {
        Reports reports;
        FusionTracker2 t(1, reports.callback(), nullptr, noFeeds());
        for (std::int64_t us : {1000000, 1100000, 1200000})
            t.detectionStep(*detections(us, {{50, kCentre}}));
        t.kineStep(kineUpdate(c.kineUs, {{5, kCentre}}));
        EXPECT_EQ(t.lastPick(), c.pick) << c.kineUs;
    }
    Reports reports;
    FusionTracker2 empty(1, reports.callback(), nullptr, noFeeds());
    empty.kineStep(kineUpdate(kSecond, {{5, kCentre}}));
    EXPECT_EQ(empty.lastPick(), -1);
}

TEST(FusionTracker2, StaleDetectionsWarnAfterGraceAndSetCountdown)
{
    Reports reports;
    FusionTracker2 t(1, reports.callback(), nullptr, noFeeds());
    t.detectionStep(*detections(kSecond, {{50, kCentre}}));
    t.kineStep(kineUpdate(3 * kSecond, {{5, kCentre}}));
    EXPECT_EQ(t.staleCountdown(), 0); // within the first 10 s
    t.setCreatedAtUs(monotonicNowUs() - 11 * kSecond);
    captureLog();
    t.kineStep(kineUpdate(3 * kSecond + 66000, {{5, kCentre}}));
    const std::string log = capturedLog();
    EXPECT_NE(log.find("Warning: Old VOD data at KINE update 2.07s"), std::string::npos) << log;
    EXPECT_EQ(t.staleCountdown(), 10);
    t.detectionStep(*detections(3 * kSecond + 100000, {{50, kCentre}}));
    t.kineStep(kineUpdate(3 * kSecond + 132000, {{5, kCentre}}));
    EXPECT_EQ(t.staleCountdown(), 9);
}

TEST(FusionTracker2, HistoryIsBoundedInTimeAndCount)
{
    struct Case {
        std::int64_t stepUs;
        int frames;
        std::size_t size;
    } cases[] = {{33333, 200, 61}, {10000, 300, 64}, {kSecond, 10, 3}};
    for (const Case& c : cases) {
        Reports reports;
        FusionTracker2 t(1, reports.callback(), nullptr, noFeeds());
        for (int i = 0; i < c.frames; i++)
            t.detectionStep(*detections(kSecond + i * c.stepUs, {{50, kCentre}}));
        EXPECT_EQ(t.history().size(), c.size) << c.stepUs;
        EXPECT_LE(t.history().back().sceneTimeUs - t.history().front().sceneTimeUs,
                  FusionTracker2::kHistoryUs);
    }
}

} // namespace
} // namespace scenetest
