// Fuzz target: scenario files, parsed and rendered for a few frames.
#include <cstddef>
#include <cstdint>
#include <string>

#include "frame_engine.h"
#include "scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace camsim::feeds;
    try {
        Scenario s = parseScenario(std::string(reinterpret_cast<const char*>(data), size));
        if (s.objects.size() > 50)
            return 0;
        FrameEngine e(std::move(s));
        for (int k = 0; k < 5; k++)
            e.render(k * 0.5, ViewPose{0.0, -10.0, 60.0, 34.0});
    } catch (const ScenarioError&) {
    }
    return 0;
}
