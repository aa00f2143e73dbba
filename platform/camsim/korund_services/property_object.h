#pragma once

#include <gio/gio.h>

#include <map>
#include <string>
#include <vector>

#include "call_log.h"

namespace camsim::korund
{

// One D-Bus object whose settings are read and written through
// "org.freedesktop.DBus.Properties" Get/Set/GetAll on one or more property
// interfaces (usually "com.zeto.Configuration.Legacy"). Every property has a
// fixed type: GDBus refuses a Set of another type with InvalidArgs, unknown
// properties with UnknownProperty. Each Set emits PropertiesChanged. Lives on
// camsim's main loop.
class PropertyObject
{
public:
    PropertyObject(CallLog& log, std::string service, std::string path);
    ~PropertyObject();
    PropertyObject(const PropertyObject&) = delete;
    PropertyObject& operator=(const PropertyObject&) = delete;

    // Declares a property with its initial value (a floating reference is sunk).
    void add(const std::string& interface, const std::string& name, GVariant* value);

    // Registers the object; throws std::runtime_error on failure.
    void exportOn(GDBusConnection* bus);
    void unexport();

    const std::string& service() const { return service_; }
    const std::string& path() const { return path_; }

    // Current value (borrowed) or nullptr.
    GVariant* value(const std::string& interface, const std::string& name) const;
    // Changes a value as a Set from the bus would (type must match).
    bool set(const std::string& interface, const std::string& name, GVariant* value);

private:
    static GVariant* onGet(GDBusConnection*, const char* sender, const char* path,
                           const char* interface, const char* property, GError** error,
                           gpointer self);
    static gboolean onSet(GDBusConnection*, const char* sender, const char* path,
                          const char* interface, const char* property, GVariant* value,
                          GError** error, gpointer self);
    void emitChanged(const std::string& interface, const std::string& name, GVariant* value);

    CallLog& log_;
    std::string service_;
    std::string path_;
    // interface -> property -> value (owned references)
    std::map<std::string, std::map<std::string, GVariant*>> props_;
    GDBusConnection* bus_ = nullptr;
    GDBusNodeInfo* node_ = nullptr;
    std::vector<guint> registrations_;
};

} // namespace camsim::korund
