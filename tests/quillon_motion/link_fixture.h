#pragma once

// camsim on a private bus with quillon's PTZ component discovering its
// channels, for tests of the control link and the closed loop. Log lines are
// mirrored to stderr so tests can capture them.
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "camsim_runner.h"
#include "quillon/motion/presets/ptz_presets.h"
#include "support/wait.h"

namespace motiontest
{

class LinkFixture : public ::testing::Test
{
protected:
    // camsim arguments of the test (scenario, speed unit ...).
    virtual std::vector<std::string> camsimArgs() const { return {}; }

    void SetUp() override
    {
        setenv("QUILLON_LOG_STDERR", "1", 1);
        cam = std::make_unique<camsimtest::CamsimRunner>(camsimArgs());
        // The detection feed library finds camsim through CAMROOT.
        setenv("CAMROOT", cam->root().c_str(), 1);
        quillon::PTZ::start();
        ASSERT_TRUE(testsupport::waitFor([] { return quillon::PTZ::socket(1) != nullptr; }))
            << "the PTZ component found no control socket for channel 1";
    }

    void TearDown() override
    {
        quillon::PTZ::stop();
        cam.reset();
        unsetenv("CAMROOT");
    }

    nlohmann::json control(const nlohmann::json& request) { return cam->control(request); }
    // The control-socket connections camsim holds.
    nlohmann::json connections() { return control({{"cmd", "ptzlink"}})["connections"]; }

    std::unique_ptr<camsimtest::CamsimRunner> cam;
};

} // namespace motiontest
