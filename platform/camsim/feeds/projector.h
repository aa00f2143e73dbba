#pragma once

#include "scenario.h"

struct camgeom_context;

namespace camsim::feeds
{

// Camera aim and field of view at one moment, degrees.
struct ViewPose {
    double pan = 0.0;
    double tilt = 0.0;
    double hfov = 60.0;
    double vfov = 34.0;
};

// A box in device coordinates: u to the right, v upward, the picture
// spanning [-1, 1] in both (so top > bottom).
struct Box {
    float left = 0.0f;
    float top = 0.0f;
    float right = 0.0f;
    float bottom = 0.0f;
    float width() const { return right - left; }
    float height() const { return top - bottom; }
    float area() const { return width() > 0 && height() > 0 ? width() * height() : 0.0f; }
};

// A box as fractions of the displayed picture: x to the right, y downward.
struct PictureBox {
    double left = 0.0;
    double top = 0.0;
    double right = 0.0;
    double bottom = 0.0;
};

// A device box in the displayed picture: a picture rotated by 180 degrees
// shows the sensor mirrored in both directions.
PictureBox pictureBox(const Box& box, int rotation);

// Intersection over union of two boxes (0 when either is empty).
float overlap(const Box& a, const Box& b);

// How one object appears from the camera.
struct ObjectView {
    double pan = 0.0; // direction of the object's centre
    double tilt = 0.0;
    double distance = 0.0;  // metres from the camera to the object's centre
    bool inPicture = false; // enough of it lies inside the picture to be seen
    Box box;                // clipped to the picture when inPicture
    bool projected = false; // in front of the camera: `whole`, `u` and `v` are valid
    Box whole;              // the whole box, not clipped (may reach past the picture)
    double u = 0.0;         // its centre in device coordinates (may lie outside [-1, 1])
    double v = 0.0;
};

// Projects scenario objects into the picture through libcamgeom, the same
// geometry library the daemon uses. Not thread-safe; one per thread.
class Projector
{
public:
    Projector();
    ~Projector();
    Projector(const Projector&) = delete;
    Projector& operator=(const Projector&) = delete;

    void setPose(const ViewPose& pose);
    // The object stands on the ground at `pos`; the camera is `cameraHeight`
    // above the ground at the origin.
    ObjectView view(double cameraHeight, const GroundPosition& pos, const ObjectSpec& object) const;

    // Direction (pan, tilt) of a point in the world, degrees.
    static void direction(double x, double y, double z, double cameraHeight, double& pan,
                          double& tilt);

private:
    camgeom_context* ctx_ = nullptr;
};

} // namespace camsim::feeds
