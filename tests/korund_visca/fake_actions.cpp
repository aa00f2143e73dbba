#include "fake_actions.h"

#include <glib.h>

#include <cstdio>

namespace kortest
{

namespace
{

FakeActions* current = nullptr;

std::string str(const FakeActions::Value& v)
{
    if (auto* b = std::get_if<bool>(&v))
        return *b ? "true" : "false";
    if (auto* i = std::get_if<int>(&v))
        return std::to_string(*i);
    if (auto* d = std::get_if<double>(&v)) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%g", *d);
        return buf;
    }
    return std::get<std::string>(v);
}

std::string num(double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

int getBoolean(int proxy, const char* name, gboolean* value)
{
    FakeActions::Value v;
    int ret = current->read("get_boolean", proxy, name, &v, false);
    if (ret == 0) {
        if (!std::holds_alternative<bool>(v))
            return VISCA_ERR_VALUE;
        *value = std::get<bool>(v);
    }
    return ret;
}

int getIntAs(const char* kind, int proxy, const char* name, gint32* value)
{
    FakeActions::Value v;
    int ret = current->read(kind, proxy, name, &v, false);
    if (ret == 0) {
        if (!std::holds_alternative<int>(v))
            return VISCA_ERR_VALUE;
        *value = std::get<int>(v);
    }
    return ret;
}

int getInt(int proxy, const char* name, gint32* value)
{
    return getIntAs("get_int", proxy, name, value);
}

int getStreamInt(int proxy, const char* name, gint32* value)
{
    return getIntAs("get_stream_int", proxy, name, value);
}

int getDouble(int proxy, const char* name, double* value)
{
    FakeActions::Value v;
    int ret = current->read("get_double", proxy, name, &v, false);
    if (ret == 0) {
        if (!std::holds_alternative<double>(v))
            return VISCA_ERR_VALUE;
        *value = std::get<double>(v);
    }
    return ret;
}

int getText(const char* kind, bool bytes, int proxy, const char* name, char** value)
{
    FakeActions::Value v;
    int ret = current->read(kind, proxy, name, &v, bytes);
    if (ret == 0) {
        if (!std::holds_alternative<std::string>(v))
            return VISCA_ERR_VALUE;
        *value = g_strdup(std::get<std::string>(v).c_str());
    }
    return ret;
}

int getString(int proxy, const char* name, char** value)
{
    return getText("get_string", false, proxy, name, value);
}

int getBytestring(int proxy, const char* name, char** value)
{
    return getText("get_bytestring", true, proxy, name, value);
}

int setBoolean(int proxy, const char* name, gboolean value)
{
    return current->write("set_boolean", proxy, name, bool(value), false);
}

int setInt(int proxy, const char* name, gint32 value)
{
    return current->write("set_int", proxy, name, int(value), false);
}

int setDouble(int proxy, const char* name, double value)
{
    return current->write("set_double", proxy, name, value, false);
}

int setString(int proxy, const char* name, const char* value)
{
    return current->write("set_string", proxy, name, std::string(value), false);
}

int setBytestring(int proxy, const char* name, const char* value)
{
    return current->write("set_bytestring", proxy, name, std::string(value), true);
}

int movePtz(double pan, int panMode, double tilt, int tiltMode, int zoom, int zoomMode, int speed)
{
    return current->ptz("MovePTZ(" + num(pan) + "," + std::to_string(panMode) + "," + num(tilt) +
                        "," + std::to_string(tiltMode) + "," + std::to_string(zoom) + "," +
                        std::to_string(zoomMode) + "," + std::to_string(speed) + ")");
}

int moveFocus(int focus, int mode)
{
    return current->ptz("Move(" + std::to_string(focus) + "," + std::to_string(mode) + ")");
}

int gotoHome()
{
    return current->ptz("GotoHome");
}

int auxiliary(const char* command)
{
    return current->ptz(std::string("Auxiliary(") + command + ")");
}

int setPresetName(const char* name)
{
    return current->ptz(std::string("SetPresetName(") + name + ")");
}

int gotoPresetName(const char* name)
{
    return current->ptz(std::string("GotoPresetName(") + name + ")");
}

int removePresetName(const char* name)
{
    return current->ptz(std::string("RemovePresetName(") + name + ")");
}

int queryPosition(ViscaPosition* position)
{
    int ret = current->ptz("QueryPosition");
    if (ret == 0)
        *position = current->position;
    return ret;
}

gboolean isRotated()
{
    return current->rotated;
}

const ViscaActions fakeTable = {
    getBoolean,    getInt,         getStreamInt,     getDouble,     getString,
    getBytestring, setBoolean,     setInt,           setDouble,     setString,
    setBytestring, movePtz,        moveFocus,        gotoHome,      auxiliary,
    setPresetName, gotoPresetName, removePresetName, queryPosition, isRotated,
};

} // namespace

FakeActions::FakeActions() = default;

FakeActions::~FakeActions()
{
    if (current == this) {
        visca_actions_set(nullptr);
        current = nullptr;
    }
}

void FakeActions::install()
{
    current = this;
    visca_actions_set(&fakeTable);
}

std::string FakeActions::key(int proxy, const std::string& name)
{
    return std::to_string(proxy) + " " + name;
}

void FakeActions::setBool(int proxy, const std::string& name, bool v)
{
    props_[key(proxy, name)] = {v, false};
}

void FakeActions::setInt(int proxy, const std::string& name, int v)
{
    props_[key(proxy, name)] = {v, false};
}

void FakeActions::setBytes(int proxy, const std::string& name, const std::string& v)
{
    props_[key(proxy, name)] = {v, true};
}

void FakeActions::setString(int proxy, const std::string& name, const std::string& v)
{
    props_[key(proxy, name)] = {v, false};
}

bool FakeActions::has(int proxy, const std::string& name) const
{
    return props_.count(key(proxy, name)) != 0;
}

FakeActions::Value FakeActions::get(int proxy, const std::string& name) const
{
    auto it = props_.find(key(proxy, name));
    return it == props_.end() ? Value{} : it->second.value;
}

void FakeActions::failProperty(int proxy, const std::string& name, int code)
{
    errors_[key(proxy, name)] = code;
}

int FakeActions::read(const char* kind, int proxy, const char* name, Value* out, bool bytes)
{
    calls.push_back(std::string(kind) + " " + std::to_string(proxy) + " " + name);
    auto err = errors_.find(key(proxy, name));
    if (err != errors_.end())
        return err->second;
    auto it = props_.find(key(proxy, name));
    if (it == props_.end())
        return VISCA_ERR_DBUS; // unknown property: the service answers with an error
    if (it->second.bytes != bytes && std::holds_alternative<std::string>(it->second.value))
        return VISCA_ERR_VALUE;
    *out = it->second.value;
    return 0;
}

int FakeActions::write(const char* kind, int proxy, const char* name, const Value& v, bool bytes)
{
    calls.push_back(std::string(kind) + " " + std::to_string(proxy) + " " + name + "=" + str(v));
    auto err = errors_.find(key(proxy, name));
    if (err != errors_.end())
        return err->second;
    props_[key(proxy, name)] = {v, bytes};
    return 0;
}

int FakeActions::ptz(const std::string& call)
{
    calls.push_back(call);
    return ptzError_;
}

} // namespace kortest
