// Cost of the JSON API without the web server: parsing, dispatch and reply
// text for a read, and for a settings change that validates, publishes and
// writes "settings.conf" atomically.
#include <stdlib.h>

#include <filesystem>
#include <string>

#include <benchmark/benchmark.h>

#include "quillon/api/methods/json_api.h"
#include "quillon/config/settings/json_values.h"
#include "quillon/config/settings/settings_file.h"
#include "quillon/config/settings/tracker_settings.h"

namespace
{

// Settings files go to a private directory, removed at exit.
const std::string& camRoot()
{
    static const std::string root = [] {
        std::string tmpl =
            std::filesystem::temp_directory_path().string() + "/quillon-bench-XXXXXX";
        if (mkdtemp(tmpl.data()) == nullptr)
            abort();
        setenv("CAMROOT", tmpl.c_str(), 1);
        atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(getenv("CAMROOT"), ignored);
        });
        return tmpl;
    }();
    return root;
}

quillon::JsonApi& api()
{
    camRoot();
    static quillon::JsonApi instance;
    return instance;
}

void BM_GetSupportedVersions(benchmark::State& state)
{
    const std::string body = R"({"method": "getSupportedVersions", "params": {}, "context": "b"})";
    for (auto _ : state)
        benchmark::DoNotOptimize(api().process(body, 0));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GetSupportedVersions);

void BM_GetAutotrackingSettings(benchmark::State& state)
{
    const std::string body = R"({"method": "getAutotrackingSettings", "params": {}})";
    for (auto _ : state)
        benchmark::DoNotOptimize(api().process(body, 0));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GetAutotrackingSettings);

// Includes the atomic file write (temporary file, fsync, rename, directory
// fsync), which dominates.
void BM_SetAutotrackingSettings(benchmark::State& state)
{
    const std::string body = R"({"method": "setAutotrackingSettings", "params":
        {"minObjectLifespan": {"time": 3, "enabled": true}}})";
    for (auto _ : state)
        benchmark::DoNotOptimize(api().process(body, 1));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SetAutotrackingSettings);

void BM_LoadSettingsText(benchmark::State& state)
{
    camRoot();
    quillon::TrackerSettings defaults;
    quillon::json::JsonPtr object(json_object_new_object());
    defaults.toJson(object.get(), quillon::kToFile);
    const std::string text = json_object_to_json_string(object.get());
    for (auto _ : state) {
        quillon::TrackerSettings settings;
        benchmark::DoNotOptimize(quillon::loadSettingsText(settings, text));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LoadSettingsText);

} // namespace

BENCHMARK_MAIN();
