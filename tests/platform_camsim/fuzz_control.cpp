// Fuzzes the control surface with camsim's core commands: any request line
// must give a reply, never a crash or a corrupted camera.
#include <cmath>
#include <cstdint>
#include <string>

#include "camsim/core/simulator.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static camsim::Simulator* sim = [] {
        auto* s = new camsim::Simulator();
        // No files and no quitting from fuzz input.
        s->control().add("trace-start", "", [](const nlohmann::json&) { return nullptr; });
        s->control().add("quit", "", [](const nlohmann::json&) { return nullptr; });
        return s;
    }();
    std::string text(reinterpret_cast<const char*>(data), size);
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t nl = text.find('\n', start);
        std::string line = text.substr(start, nl == std::string::npos ? nl : nl - start);
        std::string reply = sim->control().handleLine(line);
        if (reply.empty())
            __builtin_trap();
        if (nl == std::string::npos)
            break;
        start = nl + 1;
    }
    const camsim::CameraState& s = sim->advance();
    if (!std::isfinite(s.pan) || !std::isfinite(s.tilt) || !(s.zoom >= 1.0 && s.zoom <= 20.0) ||
        s.pan < -180.0 || s.pan >= 180.0)
        __builtin_trap();
    return 0;
}
