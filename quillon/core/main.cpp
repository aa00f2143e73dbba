// quillon: follows a moving object with the camera. Serves the JSON API over
// FastCGI on the main thread; everything else runs behind the message bus.

#include <errno.h>
#include <getopt.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "quillon/api/endpoint/cgi_handler.h"
#include "quillon/api/methods/json_api.h"
#include "quillon/config/settings/settings_files.h"
#include "quillon/core/channel.h"
#include "quillon/core/log.h"
#include "quillon/core/message.h"
#include "quillon/core/tracker_service.h"

using namespace quillon;

namespace
{

constexpr const char* kVersion = "2.6.39+maint+1";

ApiProcessor makeJsonApi()
{
    auto api = std::make_shared<const JsonApi>();
    return [api](const std::string& body, int level) { return api->process(body, level); };
}

// The idle check: stop serving (and so end the process) when the application
// is not active. Called on the timer thread; the settings are read on the
// request loop's thread between requests, so the check never overlaps an API
// call changing them and the timer thread never waits for a request.
void onIdle(CGIHandler* handler)
{
    if (handler == nullptr) {
        applicationSettingsFile(); // loading publishes the record
        return;
    }
    handler->stopWhen([] { return !applicationSettingsFile().settings().active(); });
}

// SIGTERM and SIGINT run the orderly shutdown: they are blocked here, before
// any thread exists (threads inherit the mask), and read by the request loop
// from the returned signalfd, which ends the loop like stop(). -1 when that
// fails; the signals then keep their default action.
int takeTerminationSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    int fd = signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
    if (fd < 0 || pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) {
        quillonLog(LOG_WARNING, "Could not take the termination signals: %s\n", strerror(errno));
        if (fd >= 0)
            close(fd);
        return -1;
    }
    return fd;
}

} // namespace

int main(int argc, char** argv)
{
    int signalFd = takeTerminationSignals();
    quillonLog(LOG_INFO, "Autotracker starting [%s]\n", kVersion);

    const char* socketName = getenv("FCGI_SOCKET_NAME");
    auto handler = std::make_unique<CGIHandler>(socketName ? socketName : "", makeJsonApi);
    if (!handler->start()) {
        quillonLog(LOG_ERR, "CGI failed!\n");
        handler.reset();
        return 0;
    }
    handler->stopOnSignals(signalFd);

    auto& bus = Channel::instance();
    auto service = std::make_shared<TrackerService>(onIdle, handler.get());
    bus.subscribe(service);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));

    debug_mode_t debug;
    int option;
    opterr = 0; // unknown options are reported by the usage line below
    while ((option = getopt(argc, argv, "d")) != -1) {
        if (option == 'd')
            debug.debug = true;
        else
            quillonLog(LOG_INFO, "Autotracker usage: %s [-d] \n\n", argv[0]);
    }
    bus.postSettings(debug);

    handler->run();

    quillonLog(LOG_INFO, "Autotracker shutting down\n");
    service->prepareToShutdown();
    bus.unsubscribe(service);
    bus.stop();
    handler->stop();
    service.reset();
    handler.reset();
    if (signalFd >= 0)
        close(signalFd);
    quillonLog(LOG_INFO, "Autotracker stopped\n");
    return 0;
}
