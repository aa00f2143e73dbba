// Fuzzes the control surface with camsim's core commands: any request line
// must give a reply, never a crash or a corrupted camera.
#include <cmath>
#include <cstdint>
#include <string>

#include "camsim/core/simulator.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A camera of its own per input, so that a failing input replays alone.
    camsim::Simulator sim;
    // No files and no quitting from fuzz input.
    sim.control().add("trace-start", "", [](const nlohmann::json&) { return nullptr; });
    sim.control().add("quit", "", [](const nlohmann::json&) { return nullptr; });
    std::string text(reinterpret_cast<const char*>(data), size);
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t nl = text.find('\n', start);
        std::string line = text.substr(start, nl == std::string::npos ? nl : nl - start);
        std::string reply = sim.control().handleLine(line);
        if (reply.empty())
            __builtin_trap();
        if (nl == std::string::npos)
            break;
        start = nl + 1;
    }
    const camsim::CameraState& s = sim.advance();
    // Pan wraps into [-180, 180) unless pan stops hold it, at most at +-180.
    const camsim::PanLimits& stops = sim.camera().panLimits();
    bool panOk = stops.limited() ? s.pan >= stops.min && s.pan <= stops.max
                                 : s.pan >= -180.0 && s.pan < 180.0;
    if (!std::isfinite(s.pan) || !std::isfinite(s.tilt) || !(s.zoom >= 1.0 && s.zoom <= 20.0) ||
        !panOk)
        __builtin_trap();
    return 0;
}
