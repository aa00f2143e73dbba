// Fuzz target: bytes from a feed socket through the frame reader and the
// protobuf decoders the stand-in libraries use.
#include <cstddef>
#include <cstdint>

#include "feedwire.h"
#include "scene.pb-c.h"
#include "vod.pb-c.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    feedwire_reader r;
    feedwire_reader_init(&r);
    // Feed in two pieces to exercise partial frames.
    std::size_t half = size / 2;
    feedwire_reader_feed(&r, data, half);
    for (int round = 0; round < 2; round++) {
        feedwire_header h;
        const std::uint8_t* p = nullptr;
        while (feedwire_reader_next(&r, &h, &p) == FEEDWIRE_OK) {
            if (h.type == FEEDWIRE_DET_FRAME) {
                if (VOD__Scene* s = vod__scene__unpack(nullptr, h.length, p))
                    vod__scene__free_unpacked(s, nullptr);
            } else if (h.type == FEEDWIRE_DET_INFO) {
                if (VOD__DetectorInformation* s =
                        vod__detector_information__unpack(nullptr, h.length, p))
                    vod__detector_information__free_unpacked(s, nullptr);
            } else if (h.type == FEEDWIRE_SCENE_FRAME && h.length >= 4 &&
                       feedwire_get_u32(p) == h.length) {
                if (Scene__Scene* s = scene__scene__unpack(nullptr, h.length - 4, p + 4))
                    scene__scene__free_unpacked(s, nullptr);
            }
        }
        if (round == 0)
            feedwire_reader_feed(&r, data + half, size - half);
    }
    feedwire_reader_clear(&r);
    return 0;
}
