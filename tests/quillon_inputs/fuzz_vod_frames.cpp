// Detection frames through the client's decoding and class filter and into
// the store: arbitrary bytes must give a clear refusal or a bounded store.
#include <cstddef>
#include <cstdint>

#include "quillon/core/channel.h"
#include "quillon/inputs/vod/vod_client.h"
#include "quillon/inputs/vod/vod_position_source.h"
#include "quillon/inputs/vod/vod_scene_update_message.h"
#include "quillon/inputs/vod/vod_storage_update.h"

namespace
{

using namespace quillon;

class LinearCamera : public VodPositionSource
{
public:
    bool positionAt(std::int64_t t, PositionRecord& p) override
    {
        p.pan = static_cast<float>(t % 360) - 180.0f;
        p.horizontalFov = 60.0f;
        p.verticalFov = 34.0f;
        return (t & 1) == 0;
    }
    bool screenToPanTilt(Point s, const PositionRecord& p, Point& out) override
    {
        out = {p.pan + s.x * 30.0f, p.tilt + s.y * 17.0f};
        return s.x > -0.9f;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Channel bus;
    static VodClient* client = [] {
        auto* c = new VodClient(1, bus);
        c->setObjectClasses({{0, {0, "human", 40, true, true}},
                             {1, {1, "vehicle", -1, false, true}},
                             {2, {2, "bike", 10, false, false}}});
        return c;
    }();
    static TrackerScene scene;
    static LinearCamera camera;

    VodSceneRecord record;
    if (!decodeVodScene(data, size, record))
        return 0;
    std::unique_ptr<VodSceneUpdateMessage> message = client->buildMessage(record);
    if (!scene.objects.empty())
        scene.setTracked(scene.objects.front()->getId());
    scene = updateVodStorage(scene, *message, &camera);
    // Objects are only ever added for this frame's detections.
    if (scene.objects.size() > 1000000)
        __builtin_trap();
    for (const auto& o : scene.objects) {
        auto* vod = dynamic_cast<VodObject*>(o.get());
        if (vod == nullptr || vod->history().size() > VodObject::kMaxHistory)
            __builtin_trap();
    }
    return 0;
}
