#include "ptz_coordinator.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "camsim/core/gerror.h"

namespace camsim::korund
{

namespace
{

const char* const kService = "com.zeto.PTZ.Coordinator";
const char* const kPath = "/com/zeto/PTZ/Coordinator/1";
const char* const kInterface = "com.zeto.PTZ.Coordinator";

std::string moveArgs()
{
    std::string xml = "<arg type='s' direction='in'/>";
    for (int i = 0; i < 30; i++)
        xml += "<arg type='i' direction='in'/>";
    return xml;
}

std::string introspection()
{
    return std::string("<node><interface name='") + kInterface +
           "'>"
           "<method name='MovePTZ'><arg type='s' direction='in'/><arg type='i' direction='in'/>"
           "<arg type='d' direction='in'/><arg type='i' direction='in'/>"
           "<arg type='d' direction='in'/><arg type='i' direction='in'/>"
           "<arg type='i' direction='in'/><arg type='i' direction='in'/>"
           "<arg type='i' direction='in'/></method>"
           "<method name='Move'>" +
           moveArgs() +
           "</method>"
           "<method name='GotoHome'><arg type='s' direction='in'/><arg type='i' direction='in'/>"
           "<arg type='i' direction='in'/></method>"
           "<method name='Auxiliary'><arg type='s' direction='in'/><arg type='i' direction='in'/>"
           "<arg type='s' direction='in'/></method>"
           "<method name='SetPresetName'><arg type='s' direction='in'/>"
           "<arg type='i' direction='in'/><arg type='s' direction='in'/>"
           "<arg type='b' direction='in'/></method>"
           "<method name='GotoPresetName'><arg type='s' direction='in'/>"
           "<arg type='i' direction='in'/><arg type='s' direction='in'/>"
           "<arg type='i' direction='in'/></method>"
           "<method name='RemovePresetName'><arg type='s' direction='in'/>"
           "<arg type='i' direction='in'/><arg type='s' direction='in'/></method>"
           "<method name='QueryPosition'><arg type='s' direction='in'/>"
           "<arg type='i' direction='in'/>"
           "<arg type='i' direction='out'/><arg type='i' direction='out'/>"
           "<arg type='i' direction='out'/><arg type='i' direction='out'/>"
           "<arg type='i' direction='out'/><arg type='i' direction='out'/>"
           "<arg type='i' direction='out'/><arg type='i' direction='out'/></method>"
           "</interface></node>";
}

// Speed percent (0 or less: full) to a fraction (0, 1] of the maximum.
double speedFraction(double percent)
{
    if (!(percent > 0.0))
        return 1.0;
    return std::min(percent, 100.0) / 100.0;
}

gint32 fixed16(double v)
{
    double f = std::round(v * 65536.0);
    return static_cast<gint32>(std::clamp(f, -2147483648.0, 2147483647.0));
}

} // namespace

PtzCoordinator::PtzCoordinator(Context& ctx, CallLog& log) : ctx_(ctx), log_(log) {}

PtzCoordinator::~PtzCoordinator()
{
    unexport();
}

double PtzCoordinator::zoomFactor(int zoom, double zoomMax)
{
    if (zoom <= 1)
        return 1.0;
    if (zoom >= 9999)
        return zoomMax;
    return 1.0 + (zoom - 1) * (zoomMax - 1.0) / 9998.0;
}

int PtzCoordinator::zoomValue(double factor, double zoomMax)
{
    double z = 1.0 + (factor - 1.0) / (zoomMax - 1.0) * 9998.0;
    return static_cast<int>(std::lround(std::clamp(z, 1.0, 9999.0)));
}

void PtzCoordinator::exportOn(GDBusConnection* bus)
{
    GError* error = nullptr;
    node_ = g_dbus_node_info_new_for_xml(introspection().c_str(), &error);
    if (!node_)
        throwGError("PTZ coordinator introspection", error);
    static const GDBusInterfaceVTable vtable = {
        &PtzCoordinator::onMethod, nullptr, nullptr, {nullptr}};
    registration_ = g_dbus_connection_register_object(bus, kPath, node_->interfaces[0], &vtable,
                                                      this, nullptr, &error);
    if (registration_ == 0)
        throwGError("cannot export the PTZ coordinator", error);
    bus_ = bus;
}

void PtzCoordinator::unexport()
{
    if (registration_)
        g_dbus_connection_unregister_object(bus_, registration_);
    registration_ = 0;
    if (node_)
        g_dbus_node_info_unref(node_);
    node_ = nullptr;
}

void PtzCoordinator::onMethod(GDBusConnection*, const char*, const char*, const char*,
                              const char* method, GVariant* params,
                              GDBusMethodInvocation* invocation, gpointer self)
{
    static_cast<PtzCoordinator*>(self)->handle(method, params, invocation);
}

void PtzCoordinator::handle(const std::string& method, GVariant* params,
                            GDBusMethodInvocation* invocation)
{
    gchar* args = g_variant_print(params, FALSE);
    log_.add({kService, kPath, kInterface, method, g_variant_get_type_string(params), args});
    g_free(args);

    auto fail = [&](const std::string& message) {
        g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.Failed",
                                                   message.c_str());
    };
    Camera& camera = ctx_.camera;
    const CameraLimits& limits = camera.limits();

    if (method == "MovePTZ") {
        std::string error;
        if (!movePtz(params, error))
            return fail(error);
    } else if (method == "Move") {
        gint32 value = 0, mode = 0;
        g_variant_get_child(params, 18, "i", &value);
        g_variant_get_child(params, 21, "i", &mode);
        int focus = value / 65536;
        if (mode == 1)
            focus_ = std::clamp(focus, 1, 9999);
        else if (mode == 3)
            focusSpeed_ = std::clamp(focus, -100, 100);
        else if (mode != 0)
            return fail("unsupported focus mode");
    } else if (method == "GotoHome") {
        gint32 speed = 0;
        g_variant_get_child(params, 2, "i", &speed);
        continuous_ = false;
        camera.absoluteMove(0.0, 0.0, limits.zoomMin, speedFraction(speed / 65536.0), ctx_.now());
    } else if (method == "Auxiliary") {
        const char* command = nullptr;
        g_variant_get_child(params, 2, "&s", &command);
        if (g_strcmp0(command, "reset") == 0) {
            continuous_ = false;
            camera.stop(ctx_.now());
        } else if (g_strcmp0(command, "wbonep") != 0) {
            return fail(std::string("unknown auxiliary command ") + command);
        }
    } else if (method == "SetPresetName" || method == "GotoPresetName" ||
               method == "RemovePresetName") {
        const char* name = nullptr;
        g_variant_get_child(params, 2, "&s", &name);
        const Preset* found = nullptr;
        std::uint32_t next = 1;
        std::vector<Preset> all = ctx_.presets.list();
        for (const auto& p : all) {
            if (p.name == name)
                found = &p;
            next = std::max(next, p.number + 1);
        }
        if (method == "SetPresetName") {
            const CameraState& pose = ctx_.pose();
            ctx_.presets.set({found ? found->number : next, name, pose.pan, pose.tilt, pose.zoom});
        } else if (!found) {
            return fail(std::string("no preset named ") + name);
        } else if (method == "GotoPresetName") {
            gint32 speed = 0;
            g_variant_get_child(params, 3, "i", &speed);
            continuous_ = false;
            camera.gotoPreset(found->number, found->pan, found->tilt, found->zoom,
                              speedFraction(speed / 65536.0), ctx_.now());
        } else {
            ctx_.presets.remove(found->number);
        }
    } else if (method == "QueryPosition") {
        return queryPosition(invocation);
    } else {
        return fail("unknown method " + method);
    }
    g_dbus_method_invocation_return_value(invocation, nullptr);
}

bool PtzCoordinator::movePtz(GVariant* params, std::string& error)
{
    const char* op = nullptr;
    gint32 channel, panMode, tiltMode, zoom, zoomMode, speed;
    double pan, tilt;
    g_variant_get(params, "(&sididiiii)", &op, &channel, &pan, &panMode, &tilt, &tiltMode, &zoom,
                  &zoomMode, &speed);
    for (int mode : {panMode, tiltMode, zoomMode}) {
        if (mode < 0 || mode > 3) {
            error = "unsupported mode " + std::to_string(mode);
            return false;
        }
    }
    if (!std::isfinite(pan) || !std::isfinite(tilt)) {
        error = "pan and tilt must be finite";
        return false;
    }
    Camera& camera = ctx_.camera;
    const CameraLimits& limits = camera.limits();
    long long now = ctx_.now();

    bool absolute = panMode == 1 || tiltMode == 1 || zoomMode == 1;
    bool relative = panMode == 2 || tiltMode == 2 || zoomMode == 2;
    if (absolute) {
        const CameraState& pose = ctx_.pose();
        double p = panMode == 1 ? pan : pose.pan;
        double t = tiltMode == 1 ? tilt : pose.tilt;
        double z = zoomMode == 1 ? zoomFactor(zoom, limits.zoomMax) : pose.zoom;
        continuous_ = false;
        return camera.absoluteMove(p, t, z, speedFraction(speed), now) ||
               (error = "move refused", false);
    }
    if (relative) {
        continuous_ = false;
        return camera.relativeMove(panMode == 2 ? pan : 0.0, tiltMode == 2 ? tilt : 0.0, 1.0,
                                   speedFraction(speed), now) ||
               (error = "move refused", false);
    }
    if (!continuous_)
        contPan_ = contTilt_ = contZoom_ = 0.0;
    if (panMode == 3)
        contPan_ = std::clamp(pan, -100.0, 100.0) * limits.panMaxSpeed / 100.0;
    if (tiltMode == 3)
        contTilt_ = std::clamp(tilt, -100.0, 100.0) * limits.tiltMaxSpeed / 100.0;
    if (zoomMode == 3)
        contZoom_ = std::clamp(static_cast<double>(zoom), -100.0, 100.0);
    if (panMode == 0 && tiltMode == 0 && zoomMode == 0)
        return true; // nothing to move
    continuous_ = true;
    return camera.continuousMove(contPan_, contTilt_, contZoom_, SpeedSpace::Degrees, now) ||
           (error = "move refused", false);
}

void PtzCoordinator::queryPosition(GDBusMethodInvocation* invocation)
{
    const CameraState& pose = ctx_.pose();
    const CameraLimits& limits = ctx_.camera.limits();
    gint32 zoom = zoomValue(pose.zoom, limits.zoomMax);
    gint32 moving = (pose.status & kStatusMovingMask) || ctx_.camera.positioning() ? 1 : 0;
    GVariant* body;
    if (malformedPosition_)
        body = g_variant_new("(iiiiiii)", fixed16(pose.pan), fixed16(pose.tilt), zoom * 65536,
                             focus_ * 65536, 0, 0, moving);
    else
        body = g_variant_new("(iiiiiiii)", fixed16(pose.pan), fixed16(pose.tilt), zoom * 65536,
                             focus_ * 65536, 0, 0, moving, 0);
    // Sent as a plain reply so that the fault can break the declared signature.
    GDBusMessage* reply =
        g_dbus_message_new_method_reply(g_dbus_method_invocation_get_message(invocation));
    g_dbus_message_set_body(reply, body);
    g_dbus_connection_send_message(g_dbus_method_invocation_get_connection(invocation), reply,
                                   G_DBUS_SEND_MESSAGE_FLAGS_NONE, nullptr, nullptr);
    g_object_unref(reply);
    g_object_unref(invocation);
}

} // namespace camsim::korund
