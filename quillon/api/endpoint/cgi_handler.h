#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>

#include "quillon/api/endpoint/cgi.h"

namespace quillon
{

class CGIRequest;

// The JSON API as the endpoint sees it: reply text for a request body and the
// caller's permission level (see permission_level.h).
using ApiProcessor = std::function<std::string(const std::string& body, int level)>;
// Builds the API (its method table) when the endpoint starts.
using ApiFactory = std::function<ApiProcessor()>;

// The FastCGI endpoint of the JSON API: admits POST bodies below 4096 bytes,
// derives the permission level from SCRIPT_NAME and answers with the API's
// reply text. Lives on the main thread; stop() may come from any thread.
class CGIHandler
{
public:
    // Stores the socket name and takes the request lock (see CGI).
    CGIHandler(std::string socketName, ApiFactory makeApi);
    virtual ~CGIHandler();
    CGIHandler(const CGIHandler&) = delete;
    CGIHandler& operator=(const CGIHandler&) = delete;

    // Builds the method table, then opens the socket; false on failure
    // (logged).
    bool start();
    int run() { return cgi.run(); }
    void stop() { cgi.stop(); }
    void stopWhen(std::function<bool()> condition) { cgi.stopWhen(std::move(condition)); }
    void stopOnSignals(int signalFd) { cgi.stopOnSignals(signalFd); }

    // The per-request procedure, public for the request loop only.
    void handleRequest(CGIRequest& request);

    static constexpr int kBodyBufferSize = 4096;

private:
    CGI cgi;
    ApiFactory makeApi;
    ApiProcessor api; // the method table, built by start()
    std::array<char, kBodyBufferSize> bodyBuffer;
};

} // namespace quillon
