// Framed scene-feed messages through the decode and into a store: arbitrary
// bytes give a refusal or a bounded update, never a read past the buffer.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "quillon/inputs/kine/kine_decode.h"
#include "quillon/tracking/objects/tracker_scene.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace quillon;
    // An exact-size heap copy, so that any over-read is caught.
    std::vector<std::uint8_t> buffer(data, data + size);
    KineSceneUpdate update;
    if (!decodeKineMessage(buffer.empty() ? nullptr : buffer.data(), buffer.size(), update))
        return 0;
    TrackerScene scene;
    scene.applySceneUpdate(update);
    if (!update.objects.empty())
        scene.setTracked(update.objects.front().id);
    scene.applySceneUpdate(update);
    return 0;
}
