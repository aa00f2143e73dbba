// "com.zeto.PTZ2": the PTZ service. An object manager at /com/zeto/PTZ2 (and /) and
// one object per channel, /com/zeto/PTZ2/Channel/N, with the preset interface
// "com.zeto.PTZ2.Preset1" and the control-socket interface
// "com.zeto.PTZ2.ControlSocket1". Channel 1 is the camera model; further
// channels have no PTZ (PtzReady 0, no presets, no control socket).
#include <fmt/format.h>
#include <gio/gunixfdlist.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "camsim/core/gerror.h"
#include "camsim/core/module.h"
#include "ptz2_faults.h"
#include "ptz_link_server.h"

namespace camsim
{

namespace
{

constexpr const char* kBusName = "com.zeto.PTZ2";
constexpr const char* kRootPath = "/com/zeto/PTZ2";
constexpr const char* kPresetIface = "com.zeto.PTZ2.Preset1";
constexpr const char* kSocketIface = "com.zeto.PTZ2.ControlSocket1";
constexpr const char* kErrorNoPtz = "com.zeto.PTZ2.Error.NoPtz";
constexpr const char* kErrorNoPreset = "com.zeto.PTZ2.Error.NoSuchPreset";
constexpr const char* kErrorFailed = "com.zeto.PTZ2.Error.Failed";

constexpr const char* kIntrospection = R"XML(
<node>
  <interface name="org.freedesktop.DBus.ObjectManager">
    <method name="GetManagedObjects">
      <arg type="a{oa{sa{sv}}}" name="objects" direction="out"/>
    </method>
    <signal name="InterfacesAdded">
      <arg type="o" name="object"/><arg type="a{sa{sv}}" name="interfaces"/>
    </signal>
    <signal name="InterfacesRemoved">
      <arg type="o" name="object"/><arg type="as" name="interfaces"/>
    </signal>
  </interface>
  <interface name="com.zeto.PTZ2.Preset1">
    <method name="GetPresets">
      <arg type="a(us)" name="presets" direction="out"/>
    </method>
    <method name="GotoPreset">
      <arg type="u" name="number" direction="in"/>
    </method>
    <signal name="PresetAdded"><arg type="u" name="number"/><arg type="s" name="name"/></signal>
    <signal name="PresetRemoved"><arg type="u" name="number"/><arg type="s" name="name"/></signal>
    <signal name="PresetChanged"><arg type="u" name="number"/><arg type="s" name="name"/></signal>
    <property name="PtzReady" type="u" access="read"/>
    <property name="PresetStatus" type="(uu)" access="read"/>
  </interface>
  <interface name="com.zeto.PTZ2.ControlSocket1">
    <method name="CreateSocketAsAutotracker">
      <arg type="i" name="handle" direction="out"/>
    </method>
    <method name="DestroySocket">
      <arg type="i" name="handle" direction="in"/>
    </method>
  </interface>
</node>
)XML";

class Ptz2Service : public Module
{
public:
    void start(Context& ctx) override
    {
        ctx_ = &ctx;
        link_ = std::make_unique<PtzLinkServer>(ctx);
        GError* err = nullptr;
        info_ = g_dbus_node_info_new_for_xml(kIntrospection, &err);
        if (info_ == nullptr)
            throwGError("introspection", err);

        // The manager lives at the service's root path; "/" answers the same
        // for clients that ask the bus root.
        registerObject(kRootPath, "org.freedesktop.DBus.ObjectManager", 0);
        registerObject("/", "org.freedesktop.DBus.ObjectManager", 0);
        for (int ch = 1; ch <= ctx.channels; ++ch) {
            std::string path = channelPath(ch);
            registerObject(path, kPresetIface, ch);
            registerObject(path, kSocketIface, ch);
        }

        presetListener_ =
            ctx.presets.addListener([this](PresetStore::Change change, const Preset& p) {
                const char* signal = change == PresetStore::Change::Added     ? "PresetAdded"
                                     : change == PresetStore::Change::Removed ? "PresetRemoved"
                                                                              : "PresetChanged";
                g_dbus_connection_emit_signal(
                    ctx_->bus, nullptr, channelPath(1).c_str(), kPresetIface, signal,
                    g_variant_new("(us)", p.number, p.name.c_str()), nullptr);
            });
        cameraListener_ = ctx.camera.addListener([this](Camera::Change change) {
            if (change == Camera::Change::PresetStatus)
                propertyChanged("PresetStatus", presetStatusValue(1));
        });

        ctx.control.add("ptz-ready", "set the PtzReady property of channel 1: value 0 or 1",
                        [this](const nlohmann::json& r) {
                            ptzReady_ = ControlSurface::number(r, "value") != 0 ? 1u : 0u;
                            propertyChanged("PtzReady", g_variant_new_uint32(ptzReady_));
                            return nlohmann::json(nullptr);
                        });
        ctx.control.add("ptzlink", "control-socket connections and the injected fault",
                        [this](const nlohmann::json&) { return link_->describe(); });
        ctx.control.add("ptzlink-fault",
                        "inject a control-socket fault: mode none|garbage|silent|short|"
                        "nospaces|failspaces|refuse",
                        [this](const nlohmann::json& r) {
                            PtzLinkServer::Fault f;
                            if (!PtzLinkServer::faultFromName(ControlSurface::text(r, "mode"), f))
                                throw ControlError("unknown fault mode");
                            link_->setFault(f);
                            return nlohmann::json(nullptr);
                        });
        ctx.control.add("ptzlink-close",
                        "the driver drops a control-socket connection: handle=N, or every "
                        "connection without it; returns the handles closed",
                        [this](const nlohmann::json& r) {
                            std::vector<int> closed;
                            if (r.contains("handle")) {
                                double h = ControlSurface::number(r, "handle");
                                if (h != std::floor(h) || h < 1 || h > INT32_MAX ||
                                    !link_->close(static_cast<int>(h)))
                                    throw ControlError("no such connection");
                                closed.push_back(static_cast<int>(h));
                            } else {
                                for (int h : link_->handles())
                                    if (link_->close(h))
                                        closed.push_back(h);
                            }
                            return nlohmann::json{{"closed", closed}};
                        });
        ctx.control.add("ptz2-fault",
                        "make the PTZ2 service misbehave: mode " + ptz2FaultNames() +
                            " (nopresets: GetPresets refused; odd-objects: GetManagedObjects "
                            "adds objects without a channel number or with one beyond int, and "
                            "a channel 7 whose PtzReady and PresetStatus are of the wrong type)",
                        [this](const nlohmann::json& r) {
                            if (!ptz2FaultFromName(ControlSurface::text(r, "mode"), fault_))
                                throw ControlError("unknown fault mode");
                            return nlohmann::json(nullptr);
                        });
        ctx.control.add(
            "ptz2-emit",
            "emit a signal of a channel: signal PresetAdded|PresetRemoved|PresetChanged|"
            "PropertiesChanged, args as GVariant text of a tuple (not checked against the "
            "interface), channel (default 1)",
            [this](const nlohmann::json& r) { return emitSignal(r); });
        ctx.ownName(kBusName);
    }

    void stop() override
    {
        if (ctx_ == nullptr)
            return;
        ctx_->presets.removeListener(presetListener_);
        ctx_->camera.removeListener(cameraListener_);
        for (guint id : registrations_)
            g_dbus_connection_unregister_object(ctx_->bus, id);
        registrations_.clear();
        while (!withheld_.empty())
            releaseWithheld(withheld_.begin()->first);
        link_.reset();
        if (info_ != nullptr)
            g_dbus_node_info_unref(info_);
        info_ = nullptr;
        ctx_ = nullptr;
    }

    ~Ptz2Service() override { stop(); }

private:
    struct Target {
        Ptz2Service* self;
        int channel;
    };

    static std::string channelPath(int ch) { return fmt::format("{}/Channel/{}", kRootPath, ch); }

    void releaseWithheld(int handle)
    {
        auto it = withheld_.find(handle);
        if (it == withheld_.end())
            return;
        ::close(it->second);
        withheld_.erase(it);
    }

    void registerObject(const std::string& path, const char* iface, int channel)
    {
        static const GDBusInterfaceVTable vtable = {onMethod, onGetProperty, nullptr, {}};
        targets_.push_back(std::make_unique<Target>(Target{this, channel}));
        GError* err = nullptr;
        guint id = g_dbus_connection_register_object(
            ctx_->bus, path.c_str(), g_dbus_node_info_lookup_interface(info_, iface), &vtable,
            targets_.back().get(), nullptr, &err);
        if (id == 0)
            throwGError(path.c_str(), err);
        registrations_.push_back(id);
    }

    GVariant* presetStatusValue(int channel) const
    {
        PresetStatus s = channel == 1 ? ctx_->camera.presetStatus() : PresetStatus{};
        return g_variant_new("(uu)", s.state, s.preset);
    }

    guint32 ptzReadyValue(int channel) const { return channel == 1 ? ptzReady_ : 0u; }

    void propertyChanged(const char* name, GVariant* value)
    {
        GVariantBuilder changed;
        g_variant_builder_init(&changed, G_VARIANT_TYPE("a{sv}"));
        g_variant_builder_add(&changed, "{sv}", name, value);
        g_dbus_connection_emit_signal(ctx_->bus, nullptr, channelPath(1).c_str(),
                                      "org.freedesktop.DBus.Properties", "PropertiesChanged",
                                      g_variant_new("(sa{sv}as)", kPresetIface, &changed, nullptr),
                                      nullptr);
    }

    nlohmann::json emitSignal(const nlohmann::json& request)
    {
        std::string signal = ControlSurface::text(request, "signal");
        std::string args = ControlSurface::text(request, "args");
        int channel = static_cast<int>(ControlSurface::number(request, "channel", 1));
        const char* iface =
            signal == "PropertiesChanged" ? "org.freedesktop.DBus.Properties" : kPresetIface;
        if (signal != "PresetAdded" && signal != "PresetRemoved" && signal != "PresetChanged" &&
            signal != "PropertiesChanged")
            throw ControlError("unknown signal");
        if (channel < 1)
            throw ControlError("channel must be 1 or more");
        GError* err = nullptr;
        GVariant* value = g_variant_parse(nullptr, args.c_str(), nullptr, nullptr, &err);
        if (value == nullptr) {
            std::string message = err->message;
            g_error_free(err);
            throw ControlError("args: " + message);
        }
        g_variant_ref_sink(value);
        if (!g_variant_is_of_type(value, G_VARIANT_TYPE_TUPLE)) {
            g_variant_unref(value);
            throw ControlError("args must be a tuple");
        }
        g_dbus_connection_emit_signal(ctx_->bus, nullptr, channelPath(channel).c_str(), iface,
                                      signal.c_str(), value, nullptr);
        g_variant_unref(value);
        return nlohmann::json(nullptr);
    }

    // Objects a faulty service lists besides its channels.
    static void addOddObjects(GVariantBuilder& objects)
    {
        for (const char* path :
             {"/com/zeto/PTZ2/Channel/x", "/com/zeto/PTZ2/Channel/99999999999"}) {
            GVariantBuilder ifaces, props;
            g_variant_builder_init(&ifaces, G_VARIANT_TYPE("a{sa{sv}}"));
            g_variant_builder_init(&props, G_VARIANT_TYPE("a{sv}"));
            g_variant_builder_add(&props, "{sv}", "PtzReady", g_variant_new_uint32(1));
            g_variant_builder_add(&ifaces, "{sa{sv}}", kPresetIface, &props);
            g_variant_builder_add(&objects, "{oa{sa{sv}}}", path, &ifaces);
        }
        // A channel whose properties have the wrong types and that names
        // another channel's path.
        GVariantBuilder ifaces, props;
        g_variant_builder_init(&ifaces, G_VARIANT_TYPE("a{sa{sv}}"));
        g_variant_builder_init(&props, G_VARIANT_TYPE("a{sv}"));
        g_variant_builder_add(&props, "{sv}", "PtzReady", g_variant_new_string("yes"));
        g_variant_builder_add(&props, "{sv}", "PresetStatus", g_variant_new_uint32(2));
        g_variant_builder_add(&props, "{sv}", "Peer",
                              g_variant_new_object_path("/com/zeto/PTZ2/Channel/3"));
        g_variant_builder_add(&ifaces, "{sa{sv}}", kPresetIface, &props);
        g_variant_builder_add(&objects, "{oa{sa{sv}}}", "/com/zeto/PTZ2/Channel/7", &ifaces);
    }

    GVariant* managedObjects() const
    {
        GVariantBuilder objects;
        g_variant_builder_init(&objects, G_VARIANT_TYPE("a{oa{sa{sv}}}"));
        if (fault_ == Ptz2Fault::OddObjects)
            addOddObjects(objects);
        for (int ch = 1; ch <= ctx_->channels; ++ch) {
            GVariantBuilder ifaces, props;
            g_variant_builder_init(&ifaces, G_VARIANT_TYPE("a{sa{sv}}"));
            g_variant_builder_init(&props, G_VARIANT_TYPE("a{sv}"));
            g_variant_builder_add(&props, "{sv}", "PtzReady",
                                  g_variant_new_uint32(ptzReadyValue(ch)));
            g_variant_builder_add(&props, "{sv}", "PresetStatus", presetStatusValue(ch));
            g_variant_builder_add(&ifaces, "{sa{sv}}", kPresetIface, &props);
            g_variant_builder_add(&ifaces, "{sa{sv}}", kSocketIface, nullptr);
            g_variant_builder_add(&objects, "{oa{sa{sv}}}", channelPath(ch).c_str(), &ifaces);
        }
        return g_variant_new("(a{oa{sa{sv}}})", &objects);
    }

    static GVariant* onGetProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                   const gchar* property, GError** error, gpointer data)
    {
        auto* t = static_cast<Target*>(data);
        if (g_strcmp0(property, "PtzReady") == 0)
            return g_variant_new_uint32(t->self->ptzReadyValue(t->channel));
        if (g_strcmp0(property, "PresetStatus") == 0)
            return t->self->presetStatusValue(t->channel);
        g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY, "no property %s", property);
        return nullptr;
    }

    static void onMethod(GDBusConnection*, const gchar*, const gchar*, const gchar* iface,
                         const gchar* method, GVariant* params, GDBusMethodInvocation* inv,
                         gpointer data)
    {
        auto* t = static_cast<Target*>(data);
        Ptz2Service* self = t->self;
        std::string_view m(method);
        if (m == "GetManagedObjects") {
            g_dbus_method_invocation_return_value(inv, self->managedObjects());
        } else if (m == "GetPresets") {
            if (self->fault_ == Ptz2Fault::NoPresets) {
                g_dbus_method_invocation_return_dbus_error(inv, kErrorFailed,
                                                           "presets unavailable");
                return;
            }
            GVariantBuilder list;
            g_variant_builder_init(&list, G_VARIANT_TYPE("a(us)"));
            if (t->channel == 1)
                for (auto& p : self->ctx_->presets.list())
                    g_variant_builder_add(&list, "(us)", p.number, p.name.c_str());
            g_dbus_method_invocation_return_value(inv, g_variant_new("(a(us))", &list));
        } else if (m == "GotoPreset") {
            guint32 number = 0;
            g_variant_get(params, "(u)", &number);
            const Preset* p = t->channel == 1 ? self->ctx_->presets.find(number) : nullptr;
            if (p == nullptr) {
                g_dbus_method_invocation_return_dbus_error(inv, kErrorNoPreset, "no such preset");
                return;
            }
            self->ctx_->camera.gotoPreset(p->number, p->pan, p->tilt, p->zoom,
                                          self->ctx_->presets.gotoSpeed(), self->ctx_->now());
            g_dbus_method_invocation_return_value(inv, nullptr);
        } else if (m == "CreateSocketAsAutotracker") {
            if (t->channel != 1) {
                g_dbus_method_invocation_return_dbus_error(inv, kErrorNoPtz,
                                                           "this channel has no PTZ");
                return;
            }
            if (self->fault_ == Ptz2Fault::RefuseSocket) {
                g_dbus_method_invocation_return_dbus_error(inv, kErrorFailed, "sockets refused");
                return;
            }
            int handle = 0;
            int fd = self->link_->open(handle);
            if (fd < 0) {
                g_dbus_method_invocation_return_dbus_error(inv, kErrorFailed, std::strerror(errno));
                return;
            }
            if (self->fault_ == Ptz2Fault::NoFd) {
                // Keep the client's end: the connection lives until the
                // handle is given back.
                self->withheld_[handle] = fd;
                g_dbus_method_invocation_return_value(inv, g_variant_new("(i)", handle));
                return;
            }
            GUnixFDList* fds = g_unix_fd_list_new_from_array(&fd, 1); // takes the fd
            g_dbus_method_invocation_return_value_with_unix_fd_list(
                inv, g_variant_new("(i)", handle), fds);
            g_object_unref(fds);
        } else if (m == "DestroySocket") {
            gint32 handle = 0;
            g_variant_get(params, "(i)", &handle);
            self->releaseWithheld(handle);
            if (!self->link_->close(handle)) {
                g_dbus_method_invocation_return_dbus_error(inv, kErrorFailed, "unknown handle");
                return;
            }
            g_dbus_method_invocation_return_value(inv, nullptr);
        } else {
            g_dbus_method_invocation_return_error(inv, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD,
                                                  "%s.%s", iface, method);
        }
    }

    Context* ctx_ = nullptr;
    GDBusNodeInfo* info_ = nullptr;
    std::unique_ptr<PtzLinkServer> link_;
    std::vector<std::unique_ptr<Target>> targets_;
    std::vector<guint> registrations_;
    int presetListener_ = 0;
    int cameraListener_ = 0;
    guint32 ptzReady_ = 1;
    Ptz2Fault fault_ = Ptz2Fault::None;
    std::map<int, int> withheld_; // handle -> client end kept back by the nofd fault
};

} // namespace

} // namespace camsim

using camsim::Ptz2Service;
CAMSIM_MODULE(Ptz2Service, "ptz2", 10)
