#include "fake_actions.h"

#include <glib.h>

namespace
{

FakeCamera& cam()
{
    return FakeCamera::instance();
}

int record(const std::string& call)
{
    cam().calls.push_back(call);
    return cam().fail ? -12 : 0;
}

int getBoolean(int, const char* name, gboolean* value)
{
    *value = FALSE;
    return record(std::string("get ") + name);
}
int getInt(int, const char* name, gint32* value)
{
    *value = 50;
    return record(std::string("get ") + name);
}
int getDouble(int, const char* name, double* value)
{
    *value = 0;
    return record(std::string("get ") + name);
}
int getString(int, const char* name, char** value)
{
    std::string n = name;
    *value = g_strdup(n == "Version" ? cam().version.c_str() : "Q6215");
    int r = record("get " + n);
    if (r != 0)
        g_clear_pointer(value, g_free);
    return r;
}
int getBytestring(int, const char* name, char** value)
{
    std::string n = name;
    const char* v = n == "Eth0MACAddress"   ? cam().mac.c_str()
                    : n == "Eth0IPAddress"  ? "192.168.0.90"
                    : n == "Eth0SubnetMask" ? "255.255.255.0"
                    : n == "DefaultRouter"  ? "192.168.0.1"
                                            : "auto";
    *value = g_strdup(v);
    int r = record("get " + n);
    if (r != 0)
        g_clear_pointer(value, g_free);
    return r;
}
int setBoolean(int, const char* name, gboolean)
{
    return record(std::string("set ") + name);
}
int setInt(int, const char* name, gint32)
{
    return record(std::string("set ") + name);
}
int setDouble(int, const char* name, double)
{
    return record(std::string("set ") + name);
}
int setString(int, const char* name, const char*)
{
    return record(std::string("set ") + name);
}
int moveTz(double, int, double, int, int zoom, int zoomMode, int)
{
    return record("MovePTZ zoom " + std::to_string(zoom) + " mode " + std::to_string(zoomMode));
}
int moveFocus(int, int)
{
    return record("Move");
}
int gotoHome()
{
    return record("GotoHome");
}
int auxiliary(const char* c)
{
    return record(std::string("Auxiliary ") + c);
}
int preset(const char* n)
{
    return record(std::string("preset ") + n);
}
int queryPosition(ViscaPosition* p)
{
    *p = ViscaPosition{};
    return record("QueryPosition");
}
gboolean notRotated()
{
    return FALSE;
}

const ViscaActions table = {
    getBoolean, getInt,    getInt,    getDouble, getString,     getBytestring, setBoolean,
    setInt,     setDouble, setString, setString, moveTz,        moveFocus,     gotoHome,
    auxiliary,  preset,    preset,    preset,    queryPosition, notRotated,
};

} // namespace

FakeCamera& FakeCamera::instance()
{
    static FakeCamera camera;
    return camera;
}

void FakeCamera::install()
{
    calls.clear();
    fail = false;
    visca_actions_set(&table);
}

void FakeCamera::uninstall()
{
    visca_actions_set(nullptr);
}
