#pragma once

// camsim with a scenario on a private bus, restartable on the same camera
// root, plus thread-safe recorders for what the stand-in libraries deliver.
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "camsim_runner.h" // controlRequest
#include "recorder.h"
#include "support/child_process.h"
#include "support/private_bus.h"
#include "support/temp_dir.h"

namespace feedstest
{

class CamsimFeeds
{
public:
    explicit CamsimFeeds(const std::string& scenario)
        : dir_("feeds"), bus_(std::make_unique<testsupport::PrivateBus>(dir_.path()))
    {
        root_ = dir_.path() + "/root";
        scenarioPath_ = dir_.file("scenario.json");
        dir_.write("scenario.json", scenario);
        // The stand-in libraries in this process find camsim through CAMROOT.
        setenv("CAMROOT", root_.c_str(), 1);
        start();
    }
    ~CamsimFeeds()
    {
        process_.reset();
        bus_.reset();
        unsetenv("CAMROOT");
    }

    void start()
    {
        process_ = std::make_unique<testsupport::ChildProcess>(
            std::vector<std::string>{CAMSIM_PATH, "--feeds-scenario", scenarioPath_},
            std::map<std::string, std::string>{{"CAMROOT", root_}});
        if (!process_->waitForOutput("camsim ready", std::chrono::seconds(20)))
            throw std::runtime_error("camsim did not start: " + process_->output());
    }
    void stop() { process_->stop(15); }

    // Sends a control request; throws when camsim refuses it.
    nlohmann::json control(const nlohmann::json& request) const
    {
        nlohmann::json r = camsimtest::controlRequest(root_ + "/run/camsim/control", request);
        if (!r.value("ok", false))
            throw std::runtime_error("camsim refused " + request.dump() + ": " + r.dump());
        return r["result"];
    }

    const testsupport::TempDir& dir() const { return dir_; }
    const std::string& root() const { return root_; }

private:
    testsupport::TempDir dir_;
    std::unique_ptr<testsupport::PrivateBus> bus_;
    std::string root_;
    std::string scenarioPath_;
    std::unique_ptr<testsupport::ChildProcess> process_;
};

} // namespace feedstest
