// camsim: the simulated PTZ camera. See README.md.
#include "camsim/core/simulator.h"

int main(int argc, char** argv)
{
    camsim::Simulator simulator;
    return simulator.run(argc, argv);
}
