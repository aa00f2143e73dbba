#pragma once

#include <gio/gio.h>

#include <string>

#include "call_log.h"
#include "camsim/core/module.h"

namespace camsim::korund
{

// "com.zeto.PTZ.Coordinator" at /com/zeto/PTZ/Coordinator/1: the method
// interface of the PTZ coordinator acting on camsim's camera model.
//   MovePTZ (sididiiii)  operator, channel, pan, pan mode, tilt, tilt mode,
//                        zoom, zoom mode, speed; modes 0 none, 1 absolute,
//                        2 relative, 3 continuous. Continuous pan/tilt are
//                        percent of the maximum speed, continuous zoom 100
//                        doubles the zoom factor per second; absolute pan/tilt
//                        in degrees, zoom 1..9999 over the optical range
//                        (10000..19999, digital, stays at the longest);
//                        speed in percent (0: full).
//   Move (s + 30 i)      focus only: integer 18 = focus * 65536, 21 = mode.
//   GotoHome (sii), Auxiliary (sis) "reset" stops the head,
//   SetPresetName (sisb), GotoPresetName (sisi), RemovePresetName (sis),
//   QueryPosition (si) -> (iiiiiiii): pan, tilt in 16.16 degrees, zoom << 16,
//                        focus << 16, 0, 0, moving (1/0), 0.
class PtzCoordinator
{
public:
    PtzCoordinator(Context& ctx, CallLog& log);
    ~PtzCoordinator();
    PtzCoordinator(const PtzCoordinator&) = delete;
    PtzCoordinator& operator=(const PtzCoordinator&) = delete;

    void exportOn(GDBusConnection* bus);
    void unexport();

    // Fault switch: QueryPosition answers with seven members instead of eight.
    void setMalformedPosition(bool on) { malformedPosition_ = on; }
    bool malformedPosition() const { return malformedPosition_; }

    // Simulated focus: last absolute position and continuous speed.
    int focus() const { return focus_; }
    int focusSpeed() const { return focusSpeed_; }

    // Zoom scale of the coordinator (1..9999 optical) to the model's factor.
    static double zoomFactor(int zoom, double zoomMax);
    static int zoomValue(double factor, double zoomMax);

private:
    static void onMethod(GDBusConnection*, const char* sender, const char* path,
                         const char* interface, const char* method, GVariant* params,
                         GDBusMethodInvocation* invocation, gpointer self);
    void handle(const std::string& method, GVariant* params, GDBusMethodInvocation* invocation);
    bool movePtz(GVariant* params, std::string& error);
    void queryPosition(GDBusMethodInvocation* invocation);

    Context& ctx_;
    CallLog& log_;
    GDBusConnection* bus_ = nullptr;
    GDBusNodeInfo* node_ = nullptr;
    guint registration_ = 0;
    bool malformedPosition_ = false;
    int focus_ = 5000;
    int focusSpeed_ = 0;
    // Last continuous speeds we commanded, in degrees per second and zoom
    // percent; components with mode "none" keep them.
    bool continuous_ = false;
    double contPan_ = 0.0, contTilt_ = 0.0, contZoom_ = 0.0;
};

} // namespace camsim::korund
