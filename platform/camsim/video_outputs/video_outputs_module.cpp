// camsim module: the camera's video outputs served through libpavane, whose
// CGI answers "videooutput2.cgi" on the transfer socket "/run/pavane/transfer"
// (under CAMROOT; owner "pavanectl", group "www").
#include <cstdio>

#include "camsim/core/module.h"
#include "simulated_outputs.h"

namespace
{

class VideoOutputsModule : public camsim::Module
{
public:
    void addOptions(camsim::Options& options) override
    {
        options.addFlag("video-outputs-off", "Do not serve the video outputs (libpavane)", &off_);
    }

    void start(camsim::Context& ctx) override
    {
        if (off_)
            return;
        namespace outputs = camsim::simulated_outputs;
        outputs::reset();
        // Runs on the main loop thread: the library watches its socket on the
        // default main context, which is camsim's.
        if (video_output_api_init(outputs::table()) != 0) {
            // Not fatal: the rest of the simulated camera stays useful (e.g.
            // when run without root, the socket's owner cannot be set).
            std::fprintf(stderr, "camsim: video outputs not served: libpavane could not set up "
                                 "its transfer socket\n");
            return;
        }
        started_ = true;
        ctx.control.add("video-outputs", "state of the simulated video outputs",
                        [](const nlohmann::json&) { return outputs::state(); });
    }

    void stop() override
    {
        if (started_)
            video_output_api_free();
        started_ = false;
    }

private:
    bool off_ = false;
    bool started_ = false;
};

} // namespace

CAMSIM_MODULE(VideoOutputsModule, "video_outputs", camsim::kModuleOrderDefault)
