// Request texts as the relay hands them to korund's CGI handler; the
// configuration lives in a temporary CAMROOT.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

extern "C" {
#include "korund_cgi_api.h"
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
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    char tmpl[] = "/tmp/korund-cgi-fuzz-XXXXXX";
    root = mkdtemp(tmpl);
    setenv("CAMROOT", root.c_str(), 1);
    std::atexit(removeRoot);
    korund_config.has_ip = TRUE;
    korund_config.has_serial = TRUE;
    korund_config_restore_default();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    g_free(korund_cgi_answer(reinterpret_cast<const char*>(data), size));
    return 0;
}
