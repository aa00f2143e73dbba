// Response of the control loop through camsim: a step (a still target
// 10 degrees off the aim), a ramp (a target moving at 5 degrees per second),
// both at zoom 1 with zoom held, and a zoom run (the step with zooming
// allowed). camsim keeps a trace of each run; tools/plot_response.py turns
// the traces into figures and plots.
//
//   control_response --unit U --out DIR [--seconds S]
//
// U: camsim's --fov-per-second-at-100. Writes DIR/<run>-u<U>.csv.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "camsim_runner.h"
#include "closed_loop.h"
#include "quillon/motion/presets/ptz_presets.h"

namespace
{

struct Run {
    const char* name;
    const char* scenario;
    float zoomLimitHigh;
};

int usage()
{
    std::fprintf(stderr, "usage: control_response --unit U --out DIR [--seconds S]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    std::string unit, out;
    int seconds = 25;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string a = argv[i];
        if (a == "--unit")
            unit = argv[i + 1];
        else if (a == "--out")
            out = argv[i + 1];
        else if (a == "--seconds")
            seconds = std::atoi(argv[i + 1]);
        else
            return usage();
    }
    if (unit.empty() || out.empty() || seconds < 1)
        return usage();

    camsimtest::CamsimRunner cam({"--fov-per-second-at-100", unit, "--feeds-scenario",
                                  std::string(SCENARIO_DIR) + "/step-pan.json"});
    setenv("CAMROOT", cam.root().c_str(), 1);
    quillon::PTZ::start();

    const Run runs[] = {{"step", "step-pan.json", 1.0f},
                        {"ramp", "ramp-pan.json", 1.0f},
                        {"zoom", "step-pan.json", 8.0f}};
    for (const Run& run : runs) {
        cam.control(
            {{"cmd", "scenario-load"}, {"path", std::string(SCENARIO_DIR) + "/" + run.scenario}});
        std::string trace = out + "/" + run.name + "-u" + unit + ".csv";
        cam.control({{"cmd", "trace-start"}, {"path", trace}});
        {
            motiontest::ClosedLoop loop({1, run.zoomLimitHigh, 1.0f});
            loop.start();
            loop.run([&](const motiontest::LoopSample&) { return loop.initialised(); },
                     std::chrono::seconds(10));
            nlohmann::json link = cam.control({{"cmd", "ptzlink"}});
            std::printf("%s at %s fov/s: ptzlink %s\n", run.name, unit.c_str(),
                        link.dump().c_str());
            std::fflush(stdout);
            loop.runFor(std::chrono::seconds(seconds));
        }
        cam.control({{"cmd", "trace-stop"}});
        std::printf("%s at %s fov/s: trace %s\n", run.name, unit.c_str(), trace.c_str());
        std::fflush(stdout);
    }
    quillon::PTZ::stop();
    return 0;
}
