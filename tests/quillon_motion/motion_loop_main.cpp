// The closed loop as a process of its own, against the camsim that CAMROOT
// and the system bus lead to: prints "steering" once the driver check is
// done, then follows for the given seconds (default 30).
#include <cstdio>
#include <cstdlib>

#include "closed_loop.h"
#include "quillon/motion/presets/ptz_presets.h"

int main(int argc, char** argv)
{
    int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
    quillon::PTZ::start();
    {
        motiontest::ClosedLoop loop({1, 1.0f, 1.0f});
        loop.start();
        if (!loop.run([&](const motiontest::LoopSample&) { return loop.initialised(); },
                      std::chrono::seconds(20))) {
            std::fprintf(stderr, "motion_loop: the driver check did not finish\n");
            return 1;
        }
        std::printf("steering\n");
        std::fflush(stdout);
        loop.runFor(std::chrono::seconds(seconds));
    }
    quillon::PTZ::stop();
    return 0;
}
