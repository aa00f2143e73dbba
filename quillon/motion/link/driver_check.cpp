#include "quillon/motion/link/driver_check.h"

#include "quillon/core/log.h"
#include "quillon/motion/link/ptz_client.h"

namespace quillon
{

int DriverCheck::step(PtzClient& client)
{
    if (state_ == 0)
        state_ = 1;
    switch (state_) {
    case 1: {
        int result = client.continuousMove(0.0, 0.0, 0.0);
        if (result != 0)
            return result;
        quillonLog(LOG_INFO, "DriverCheck: PTZ connection ok! \n");
        generation_ = client.linkGeneration();
        state_ = 2;
        return 0;
    }
    case 2: {
        int found = client.hasSpace(kAlternateSpace);
        if (found == 0) {
            state_ = 3;
            return 0;
        }
        if (found != 1)
            return found;
        int result = client.setSpaces(256, 2);
        if (result != 0)
            return result;
        state_ = 3;
        spaceSet_ = true;
        quillonLog(LOG_INFO, "DriverCheck: Set space ok! \n");
        return 0;
    }
    case 3:
        return 0;
    default:
        quillonLog(LOG_ERR, "DriverCheck: unknown state %d\n", state_);
        return 0;
    }
}

void DriverCheck::reset()
{
    state_ = 0;
    spaceSet_ = false;
}

bool DriverCheck::followLink(const PtzClient& client)
{
    if (state_ < 2 || client.linkGeneration() == generation_)
        return false;
    state_ = 1;
    spaceSet_ = false;
    return true;
}

} // namespace quillon
