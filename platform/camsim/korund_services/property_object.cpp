#include "property_object.h"

#include <stdexcept>

#include "camsim/core/gerror.h"

namespace camsim::korund
{

namespace
{

std::string printed(GVariant* v)
{
    gchar* text = g_variant_print(v, FALSE);
    std::string out = text;
    g_free(text);
    return out;
}

} // namespace

PropertyObject::PropertyObject(CallLog& log, std::string service, std::string path)
    : log_(log), service_(std::move(service)), path_(std::move(path))
{
}

PropertyObject::~PropertyObject()
{
    unexport();
    for (auto& [iface, props] : props_)
        for (auto& [name, value] : props)
            g_variant_unref(value);
}

void PropertyObject::add(const std::string& interface, const std::string& name, GVariant* value)
{
    GVariant*& slot = props_[interface][name];
    if (slot)
        g_variant_unref(slot);
    slot = g_variant_ref_sink(value);
}

void PropertyObject::exportOn(GDBusConnection* bus)
{
    std::string xml = "<node>";
    for (const auto& [iface, props] : props_) {
        xml += "<interface name='" + iface + "'>";
        for (const auto& [name, value] : props)
            xml += "<property name='" + name + "' type='" + g_variant_get_type_string(value) +
                   "' access='readwrite'/>";
        xml += "</interface>";
    }
    xml += "</node>";
    GError* error = nullptr;
    node_ = g_dbus_node_info_new_for_xml(xml.c_str(), &error);
    if (!node_)
        throwGError("korund services: bad introspection for " + path_, error);
    static const GDBusInterfaceVTable vtable = {
        nullptr, &PropertyObject::onGet, &PropertyObject::onSet, {nullptr}};
    bus_ = bus;
    for (GDBusInterfaceInfo** info = node_->interfaces; *info; ++info) {
        guint id = g_dbus_connection_register_object(bus, path_.c_str(), *info, &vtable, this,
                                                     nullptr, &error);
        if (id == 0)
            throwGError("korund services: cannot export " + path_, error);
        registrations_.push_back(id);
    }
}

void PropertyObject::unexport()
{
    for (guint id : registrations_)
        g_dbus_connection_unregister_object(bus_, id);
    registrations_.clear();
    if (node_) {
        g_dbus_node_info_unref(node_);
        node_ = nullptr;
    }
    bus_ = nullptr;
}

GVariant* PropertyObject::value(const std::string& interface, const std::string& name) const
{
    auto i = props_.find(interface);
    if (i == props_.end())
        return nullptr;
    auto p = i->second.find(name);
    return p == i->second.end() ? nullptr : p->second;
}

bool PropertyObject::set(const std::string& interface, const std::string& name, GVariant* value)
{
    g_variant_ref_sink(value);
    GVariant* current = this->value(interface, name);
    bool ok = current && g_variant_is_of_type(value, g_variant_get_type(current));
    if (ok) {
        props_[interface][name] = g_variant_ref(value);
        g_variant_unref(current);
        emitChanged(interface, name, value);
    }
    g_variant_unref(value);
    return ok;
}

void PropertyObject::emitChanged(const std::string& interface, const std::string& name,
                                 GVariant* value)
{
    if (!bus_)
        return;
    GVariantBuilder changed;
    g_variant_builder_init(&changed, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&changed, "{sv}", name.c_str(), value);
    g_dbus_connection_emit_signal(
        bus_, nullptr, path_.c_str(), "org.freedesktop.DBus.Properties", "PropertiesChanged",
        g_variant_new("(sa{sv}as)", interface.c_str(), &changed, nullptr), nullptr);
}

GVariant* PropertyObject::onGet(GDBusConnection*, const char*, const char*, const char* interface,
                                const char* property, GError** error, gpointer self)
{
    auto* obj = static_cast<PropertyObject*>(self);
    obj->log_.add({obj->service_, obj->path_, "org.freedesktop.DBus.Properties", "Get", "(ss)",
                   "('" + std::string(interface) + "', '" + property + "')"});
    GVariant* v = obj->value(interface, property);
    if (!v) {
        g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY, "No property %s", property);
        return nullptr;
    }
    return g_variant_ref(v);
}

gboolean PropertyObject::onSet(GDBusConnection*, const char*, const char*, const char* interface,
                               const char* property, GVariant* value, GError** error, gpointer self)
{
    auto* obj = static_cast<PropertyObject*>(self);
    GVariant* args = g_variant_ref_sink(g_variant_new("(ssv)", interface, property, value));
    obj->log_.add({obj->service_, obj->path_, "org.freedesktop.DBus.Properties", "Set", "(ssv)",
                   printed(args)});
    g_variant_unref(args);
    // GDBus has checked the type against the introspection data already.
    if (!obj->set(interface, property, value)) {
        g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_INVALID_ARGS, "Cannot set %s", property);
        return FALSE;
    }
    return TRUE;
}

} // namespace camsim::korund
