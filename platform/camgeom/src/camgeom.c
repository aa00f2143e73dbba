/*
 * Pinhole pan/tilt camera projection (see camgeom.h for the conventions).
 *
 * Camera frame: r to the right, u up, f forward. A screen point (sx, sy) is
 * the ray (a, b, 1) with a = sx * tan(hfov / 2), b = sy * tan(vfov / 2).
 * Tilting by t turns it into (a, b cos t + sin t, cos t - b sin t) in a frame
 * that is level but still panned with the camera; panning only adds the
 * camera pan to the ray's azimuth. So, with z = cos t - b sin t:
 *
 *   pan  = camera pan + atan2(a, z)
 *   tilt = atan2(b cos t + sin t, hypot(a, z))
 *
 * The inverse takes the direction (cos T sin d, sin T, cos T cos d), d the pan
 * relative to the camera, undoes the tilt, and divides by the depth along f.
 */
#include "camgeom.h"

#include <limits.h>
#include <math.h>
#include <stdlib.h>

#define CAMGEOM_API __attribute__((visibility("default")))

/* Directions closer than this to the image plane (in depth per unit length)
 * are refused: they would project to infinity. */
#define MIN_DEPTH 1e-6
/* Largest screen coordinate handed out (keeps the float conversion defined). */
#define MAX_SCREEN 1e9

struct camgeom_context {
    double pan;  /* degrees, in [-180, 180] */
    double tilt; /* degrees */
    double sinTilt, cosTilt;
    double tanHalfH, tanHalfV; /* 0 until the field of view is set */
    int rotation;              /* 0 or 180 */
    int width, height;         /* 0 until set */
};

static const double DEG = 3.14159265358979323846 / 180.0;

static double wrap180(double a)
{
    if (a < -180.0 || a > 180.0) {
        a = fmod(a, 360.0);
        if (a < -180.0)
            a += 360.0;
        else if (a > 180.0)
            a -= 360.0;
    }
    return a;
}

static int fovReady(const camgeom_context* ctx)
{
    return ctx->tanHalfH > 0.0 && ctx->tanHalfV > 0.0;
}

static int setFov(double* tanHalf, float fov)
{
    if (!isfinite(fov) || fov <= 0.0f || fov >= 180.0f)
        return CAMGEOM_EINVAL;
    *tanHalf = tan(fov * DEG / 2.0);
    return CAMGEOM_OK;
}

/* Screen point -> pan/tilt in degrees; needs the fields of view. */
static void screenToPtz(const camgeom_context* ctx, double sx, double sy, double* pan, double* tilt)
{
    const double a = sx * ctx->tanHalfH;
    const double b = sy * ctx->tanHalfV;
    const double y = b * ctx->cosTilt + ctx->sinTilt;
    const double z = ctx->cosTilt - b * ctx->sinTilt;
    *pan = wrap180(ctx->pan + atan2(a, z) / DEG);
    *tilt = atan2(y, hypot(a, z)) / DEG;
}

/* Pan/tilt in degrees -> screen point; needs the fields of view. */
static int ptzToScreen(const camgeom_context* ctx, double pan, double tilt, double* sx, double* sy)
{
    const double d = wrap180(pan - ctx->pan) * DEG;
    const double t = tilt * DEG;
    const double x = cos(t) * sin(d);
    const double y = sin(t);
    const double z = cos(t) * cos(d);
    /* Undo the camera tilt: depth along the optical axis and height. */
    const double depth = y * ctx->sinTilt + z * ctx->cosTilt;
    const double up = y * ctx->cosTilt - z * ctx->sinTilt;
    if (!(depth > MIN_DEPTH))
        return CAMGEOM_EBEHIND;
    *sx = x / depth / ctx->tanHalfH;
    *sy = up / depth / ctx->tanHalfV;
    return CAMGEOM_OK;
}

CAMGEOM_API camgeom_context* camgeom_context_create_f(void)
{
    camgeom_context* ctx = calloc(1, sizeof(*ctx));
    if (ctx)
        ctx->cosTilt = 1.0;
    return ctx;
}

CAMGEOM_API void camgeom_context_delete(camgeom_context* ctx)
{
    free(ctx);
}

CAMGEOM_API int camgeom_set_pantilt_f(camgeom_context* ctx, float pan, float tilt)
{
    if (!ctx || !isfinite(pan) || !isfinite(tilt))
        return CAMGEOM_EINVAL;
    ctx->pan = wrap180(pan); /* keeps pan differences exact for huge values */
    ctx->tilt = tilt;
    ctx->sinTilt = sin(tilt * DEG);
    ctx->cosTilt = cos(tilt * DEG);
    return CAMGEOM_OK;
}

CAMGEOM_API int camgeom_set_horiz_fov_f(camgeom_context* ctx, float fov)
{
    return ctx ? setFov(&ctx->tanHalfH, fov) : CAMGEOM_EINVAL;
}

CAMGEOM_API int camgeom_set_vert_fov_f(camgeom_context* ctx, float fov)
{
    return ctx ? setFov(&ctx->tanHalfV, fov) : CAMGEOM_EINVAL;
}

CAMGEOM_API int camgeom_set_pic_rot(camgeom_context* ctx, int rotation)
{
    if (!ctx || (rotation != 0 && rotation != 180))
        return CAMGEOM_EINVAL;
    ctx->rotation = rotation;
    return CAMGEOM_OK;
}

CAMGEOM_API int camgeom_set_pic_dim(camgeom_context* ctx, int width, int height)
{
    if (!ctx || width < 1 || height < 1)
        return CAMGEOM_EINVAL;
    ctx->width = width;
    ctx->height = height;
    return CAMGEOM_OK;
}

CAMGEOM_API int camgeom_to_ptz_f(camgeom_context* ctx, float x, float y, float* pan, float* tilt)
{
    if (!ctx || !pan || !tilt || !isfinite(x) || !isfinite(y))
        return CAMGEOM_EINVAL;
    if (!fovReady(ctx) || ctx->width < 1)
        return CAMGEOM_EUNSET;
    double sx = 2.0 * x / ctx->width - 1.0;
    double sy = 1.0 - 2.0 * y / ctx->height;
    if (ctx->rotation == 180) {
        sx = -sx;
        sy = -sy;
    }
    double p, t;
    screenToPtz(ctx, sx, sy, &p, &t);
    *pan = (float)p;
    *tilt = (float)t;
    return CAMGEOM_OK;
}

CAMGEOM_API int camgeom_to_pixel_f(camgeom_context* ctx, int* x, int* y, float pan, float tilt)
{
    if (!ctx || !x || !y || !isfinite(pan) || !isfinite(tilt))
        return CAMGEOM_EINVAL;
    if (!fovReady(ctx) || ctx->width < 1)
        return CAMGEOM_EUNSET;
    double sx, sy;
    int rc = ptzToScreen(ctx, pan, tilt, &sx, &sy);
    if (rc != CAMGEOM_OK)
        return rc;
    if (ctx->rotation == 180) {
        sx = -sx;
        sy = -sy;
    }
    const double px = round((sx + 1.0) / 2.0 * ctx->width);
    const double py = round((1.0 - sy) / 2.0 * ctx->height);
    if (!(fabs(px) <= INT_MAX / 2) || !(fabs(py) <= INT_MAX / 2))
        return CAMGEOM_ERANGE;
    *x = (int)px;
    *y = (int)py;
    return CAMGEOM_OK;
}

CAMGEOM_API int camgeom_screen_to_ptz(camgeom_context* ctx, camgeom_screen_point screen,
                                      camgeom_pantilt* out)
{
    if (!ctx || !out || !isfinite(screen.x) || !isfinite(screen.y))
        return CAMGEOM_EINVAL;
    if (!fovReady(ctx))
        return CAMGEOM_EUNSET;
    double p, t;
    screenToPtz(ctx, screen.x, screen.y, &p, &t);
    out->pan = (float)p;
    out->tilt = (float)t;
    return CAMGEOM_OK;
}

CAMGEOM_API int camgeom_ptz_to_screen(camgeom_context* ctx, camgeom_pantilt direction,
                                      camgeom_screen_point* out)
{
    if (!ctx || !out || !isfinite(direction.pan) || !isfinite(direction.tilt))
        return CAMGEOM_EINVAL;
    if (!fovReady(ctx))
        return CAMGEOM_EUNSET;
    double sx, sy;
    int rc = ptzToScreen(ctx, direction.pan, direction.tilt, &sx, &sy);
    if (rc != CAMGEOM_OK)
        return rc;
    if (!(fabs(sx) <= MAX_SCREEN) || !(fabs(sy) <= MAX_SCREEN))
        return CAMGEOM_ERANGE;
    out->x = (float)sx;
    out->y = (float)sy;
    return CAMGEOM_OK;
}
