// korund's key files as they may be found on a camera: the daemon file
// "/etc/korund/korund.conf" (restored to the default when a value is not
// allowed) and the product file "/usr/share/ptz/korund_products.conf". The
// first input byte picks the file, the rest is its content.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

extern "C" {
#include "korund_config.h"
}

#include <glib.h>

namespace
{
std::string root;
void removeRoot()
{
    std::filesystem::remove_all(root);
}
void quiet(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    char tmpl[] = "/tmp/korund-config-fuzz-XXXXXX";
    root = mkdtemp(tmpl);
    setenv("CAMROOT", root.c_str(), 1);
    std::atexit(removeRoot);
    std::filesystem::create_directories(root + "/etc/korund");
    std::filesystem::create_directories(root + "/usr/share/ptz");
    g_log_set_default_handler(quiet, nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    bool products = data[0] & 1;
    std::string file =
        root + (products ? "/usr/share/ptz/korund_products.conf" : "/etc/korund/korund.conf");
    std::ofstream(file, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
    if (products) {
        korund_config_load_product("1");
    } else {
        korund_config.has_ip = TRUE;
        korund_config.has_serial = TRUE;
        korund_config_load();
    }
    korund_config_clear();
    return 0;
}
