// Analytics payloads through the parse at both rotations: arbitrary text
// gives a refusal or a scene of well-formed objects.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "quillon/inputs/fusion/fusion_classes.h"
#include "quillon/inputs/fusion/fusion_payload.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace quillon;
    static const FusionClassTable classes = makeFusionClassTable();
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (int rotation : {0, 180}) {
        TrackerScene scene;
        if (!parseFusionPayload(text, 1, rotation, classes, scene))
            continue;
        for (const auto& o : scene.objects) {
            if (o->id < 0 || o->confidence < 0 || o->confidence > 1000)
                std::abort();
            for (const Point& p : o->shape.points())
                if (!std::isfinite(p.x) || !std::isfinite(p.y))
                    std::abort();
        }
    }
    return 0;
}
