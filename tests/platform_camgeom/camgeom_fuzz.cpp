// Arbitrary set-up values and conversions: no undefined behaviour, refusals
// instead of garbage, and pixel round trips inside the picture for a sane
// set-up.
#include <camgeom.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace
{

template <typename T> T take(const uint8_t*& data, size_t& size)
{
    T v{};
    if (size >= sizeof v) {
        std::memcpy(&v, data, sizeof v);
        data += sizeof v;
        size -= sizeof v;
    }
    return v;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    camgeom_context* ctx = camgeom_context_create_f();
    if (!ctx)
        return 0;
    const float pan = take<float>(data, size);
    const float tilt = take<float>(data, size);
    const float hfov = take<float>(data, size);
    const float vfov = take<float>(data, size);
    const int rotation = take<uint8_t>(data, size) & 1 ? 180 : 0;
    const int width = take<int16_t>(data, size);
    const int height = take<int16_t>(data, size);
    const bool ok = camgeom_set_pantilt_f(ctx, pan, tilt) == CAMGEOM_OK &&
                    camgeom_set_horiz_fov_f(ctx, hfov) == CAMGEOM_OK &&
                    camgeom_set_vert_fov_f(ctx, vfov) == CAMGEOM_OK &&
                    camgeom_set_pic_rot(ctx, rotation) == CAMGEOM_OK &&
                    camgeom_set_pic_dim(ctx, width, height) == CAMGEOM_OK;
    const bool sane = ok && hfov >= 1 && hfov <= 120 && vfov >= 1 && vfov <= 120 &&
                      std::fabs(tilt) <= 90 && width >= 16 && height >= 16;
    while (size >= 2 * sizeof(float)) {
        const float x = take<float>(data, size);
        const float y = take<float>(data, size);
        float p = NAN, t = NAN;
        int px = 0, py = 0;
        const int rc = camgeom_to_ptz_f(ctx, x, y, &p, &t);
        if (rc == CAMGEOM_OK &&
            !(std::isfinite(p) && std::isfinite(t) && std::fabs(p) <= 180 && std::fabs(t) <= 90))
            abort();
        camgeom_to_pixel_f(ctx, &px, &py, x, y);
        camgeom_screen_point sp;
        camgeom_ptz_to_screen(ctx, {x, y}, &sp);
        camgeom_pantilt pt;
        camgeom_screen_to_ptz(ctx, {x, y}, &pt);
        if (sane && rc == CAMGEOM_OK && x >= 0 && x <= width && y >= 0 && y <= height) {
            if (camgeom_to_pixel_f(ctx, &px, &py, p, t) != CAMGEOM_OK)
                abort();
            if (std::fabs(px - x) > 2 || std::fabs(py - y) > 2)
                abort();
        }
    }
    camgeom_context_delete(ctx);
    return 0;
}
