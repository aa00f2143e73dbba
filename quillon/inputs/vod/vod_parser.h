#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct detfeed_subscriber;

namespace quillon
{

// One detection of a decoded frame, as the feed sent it (device
// coordinates, v up: top > bottom).
struct VodDetectionRecord {
    float left = 0.0f;
    float top = 0.0f;
    float right = 0.0f;
    float bottom = 0.0f;
    std::uint32_t id = 0;
    std::uint32_t detClass = 0;
    std::uint32_t score = 0;
    std::int32_t status = 0;
    std::uint32_t attributeCount = 0;
};

// One tracker event of a decoded frame; at most kMaxIds connected ids.
struct VodEventRecord {
    static constexpr std::uint32_t kMaxIds = 6;

    std::int32_t action = 0;
    std::int32_t objectId = 0;
    std::uint32_t idCount = 0;
    std::int32_t ids[kMaxIds] = {};
};

// One decoded frame; lives for the duration of the scene callback.
struct VodSceneRecord {
    std::uint64_t timestamp = 0;
    std::vector<VodDetectionRecord> detections;
    std::vector<VodEventRecord> events;
};

// A class of the detector: id, name and calibrated score threshold (0 when
// the detector gives no calibration for it).
struct ObjectClassInfo {
    std::int32_t id = 0;
    std::string name;
    std::int32_t threshold = 0;
};

// One calibration point of a class.
struct VodCalibration {
    float precision = 0.0f;
    float recall = 0.0f;
    float threshold = 0.0f;
};

// The threshold of the calibration with the best F1 score (the first of
// equals, only one above 0), truncated toward zero; 0 when none qualifies.
int calibratedThreshold(const std::vector<VodCalibration>& calibrations);

// Decodes one serialised VOD.Scene into `record`; false (and logged) when
// the bytes do not decode.
bool decodeVodScene(const std::uint8_t* data, std::size_t length, VodSceneRecord& record);

class VodParser;

using VodSceneCallback = void (*)(const VodSceneRecord& scene, void* client, VodParser& parser);
using VodTeardownCallback = int (*)(void* client);

// The process-wide owner of the one detection-feed subscription: learns the
// detector's classes at init, decodes every frame and hands it to the owning
// client's scene callback.
//
// Threads: init, teardown and the class queries run on the owner's threads
// and are serialised by `lock`; frames and feed teardowns arrive on the
// library's thread and read only what init set before subscribing (the
// callbacks and the client), which stays fixed until teardown has stopped
// that thread. A second owner is refused while a subscription exists.
class VodParser
{
public:
    static VodParser& instance();

    // Creates and subscribes for the 0-based channel index. 1 (and a
    // warning) when a subscription exists; -1 when the detector lists no
    // class (the created handle stays until teardown); otherwise the result
    // of the last library call (0).
    int init(int channelIndex, VodSceneCallback sceneCallback, VodTeardownCallback teardownCallback,
             void* client);
    // Forgets the classes, unsubscribes and deletes the subscription. Only
    // the client that made it may end it: for any other client this is a
    // no-op returning 0. Returns the delete result; 0 without a handle.
    int teardown(void* client);
    bool hasSubscription() const;

    int classCount() const;
    std::optional<std::string> className(int index) const;
    int classId(int index) const;
    int calibratedThreshold(int index) const;
    std::vector<ObjectClassInfo> classes() const;

    // Library thread: one serialised frame; the feed was torn down.
    void onFrame(const std::uint8_t* data, std::size_t length);
    void onTeardown();

private:
    VodParser() = default;
    void readDetectorInformation();

    mutable std::mutex lock;
    std::atomic<detfeed_subscriber*> handle{nullptr};
    VodSceneCallback sceneCallback = nullptr;
    VodTeardownCallback teardownCallback = nullptr;
    void* client = nullptr;
    std::vector<ObjectClassInfo> classList;
    bool classesKnown = false;
    int channels = 0;
    int channelsSimultaneously = 0;
};

} // namespace quillon
