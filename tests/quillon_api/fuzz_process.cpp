// libFuzzer target: JsonApi::process on arbitrary bodies and levels.
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <string_view>

#include "quillon/api/methods/json_api.h"
#include "quillon_settings/bus_drain.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Settings files the methods write land in a private directory.
    static std::string root = [] {
        std::string tmpl = std::filesystem::temp_directory_path().string() + "/quillon-fuzz-XXXXXX";
        if (mkdtemp(tmpl.data()) == nullptr)
            abort();
        return tmpl;
    }();
    setenv("CAMROOT", root.c_str(), 1);
    unsetenv("QUILLON_LOG_STDERR");
    atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static quillon::JsonApi api;
    int level = size > 0 ? data[0] % 3 : 0;
    std::string_view body(reinterpret_cast<const char*>(data), size);
    if (!body.empty())
        body.remove_prefix(1);
    api.process(body, level);
    quillontest::drainBus();
    return 0;
}
