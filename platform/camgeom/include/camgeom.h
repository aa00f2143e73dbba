/*
 * libcamgeom: geometry of a pan/tilt camera.
 *
 * Model
 *   The camera is a rectilinear pinhole camera carried by two axes: a tilt
 *   axis (horizontal, through the camera) mounted on a pan axis (vertical).
 *   A picture point is a ray through the pinhole; the ray is rotated by the
 *   camera's tilt, then by its pan, and read back as a pan/tilt direction.
 *   The inverse projects a direction into the picture plane and refuses
 *   directions at or behind the camera's image plane.
 *
 * Angles (degrees)
 *   pan   grows to the right seen from behind the camera; results are
 *         wrapped into [-180, 180].
 *   tilt  0 at the horizon, positive upward, -90 straight down.
 *   Fields of view are full angles across the picture, in (0, 180).
 *
 * Screen coordinates (camgeom_screen_point)
 *   The picture as the sensor sees it, normalised to [-1, 1] across the
 *   fields of view: (0, 0) is the optical centre, x grows toward larger pan
 *   and y toward larger tilt (up). They do not depend on the picture
 *   rotation or dimension. Points outside [-1, 1] lie outside the picture.
 *
 * Pixel coordinates
 *   The picture as displayed: origin at the top-left corner, x to the right,
 *   y downward, the full picture spanning [0, width] x [0, height].
 *   Rotation 0:   screen = (2 px / width - 1, 1 - 2 py / height).
 *   Rotation 180: the displayed picture is the sensor picture turned half a
 *                 turn: screen = (1 - 2 px / width, 2 py / height - 1).
 *   Pixels from camgeom_to_pixel_f are rounded to the nearest integer.
 *
 * Set-up
 *   A new context has pan 0, tilt 0, rotation 0 and neither fields of view
 *   nor picture dimension. Screen conversions need both fields of view;
 *   pixel conversions also need the picture dimension. A setter given an
 *   invalid value refuses it and keeps the previous one.
 *
 * Results
 *   Every function returning int returns CAMGEOM_OK (0) on success and a
 *   negative CAMGEOM_E* code otherwise; out-parameters are written only on
 *   success.
 *
 * Threads
 *   A context may be used by one thread at a time; distinct contexts are
 *   independent.
 */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

#define CAMGEOM_OK 0
#define CAMGEOM_EINVAL (-1)  /* no context, or an argument out of range or not finite */
#define CAMGEOM_EUNSET (-2)  /* fields of view or picture dimension not set */
#define CAMGEOM_EBEHIND (-3) /* direction at or behind the image plane */
#define CAMGEOM_ERANGE (-4)  /* result too far outside the picture to represent */

typedef struct camgeom_context camgeom_context;

typedef struct camgeom_screen_point {
    float x;
    float y;
} camgeom_screen_point;

typedef struct camgeom_pantilt {
    float pan;
    float tilt;
} camgeom_pantilt;

/* New context, NULL when out of memory. */
camgeom_context* camgeom_context_create_f(void);
/* Frees the context; NULL is ignored. */
void camgeom_context_delete(camgeom_context* ctx);

/* Camera pose: any finite pan and tilt. */
int camgeom_set_pantilt_f(camgeom_context* ctx, float pan, float tilt);
/* Full horizontal / vertical field of view, in (0, 180). */
int camgeom_set_horiz_fov_f(camgeom_context* ctx, float fov);
int camgeom_set_vert_fov_f(camgeom_context* ctx, float fov);
/* Picture rotation: 0 or 180. */
int camgeom_set_pic_rot(camgeom_context* ctx, int rotation);
/* Picture dimension in pixels, both >= 1. */
int camgeom_set_pic_dim(camgeom_context* ctx, int width, int height);

/* Pixel (any finite position, also outside the picture) -> pan/tilt. */
int camgeom_to_ptz_f(camgeom_context* ctx, float x, float y, float* pan, float* tilt);
/* Pan/tilt -> nearest pixel; may lie outside the picture. */
int camgeom_to_pixel_f(camgeom_context* ctx, int* x, int* y, float pan, float tilt);

/* Screen point -> pan/tilt. */
int camgeom_screen_to_ptz(camgeom_context* ctx, camgeom_screen_point screen, camgeom_pantilt* out);
/* Pan/tilt -> screen point; may lie outside [-1, 1]. */
int camgeom_ptz_to_screen(camgeom_context* ctx, camgeom_pantilt direction,
                          camgeom_screen_point* out);

#ifdef __cplusplus
}
#endif
