#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace quillon
{

class CGIRequest;

// The FastCGI listening socket and the request loop.
//
// Requests are handled one at a time on the thread that calls run() (the main
// thread). The request lock is held by that thread except while it waits for
// the next connection; stop() takes it first, so a stop from another thread
// (the idle timer) never closes the socket in the middle of a request.
class CGI
{
public:
    // Takes the request lock on the constructing thread.
    explicit CGI(std::string socketName);
    virtual ~CGI();
    CGI(const CGI&) = delete;
    CGI& operator=(const CGI&) = delete;

    // Sets up the socket: the first socket passed by the service manager
    // (socket activation), or else `socketName` created here with mode 0777.
    // On failure logs "CGI warning:  <reason>" and returns false.
    bool init(int backlog, std::function<void(CGIRequest&)> handler);
    // Accepts and handles requests until accepting fails, which stop() causes.
    // Returns the failing result. Releases the request lock when it returns.
    int run();
    // Makes run() return once the current request (if any) is finished.
    // Callable from any thread and more than once.
    void stop();
    // Evaluates `condition` under the request lock (so never in the middle of
    // a request) and stops when it yields true. Returns whether it stopped.
    bool stopIf(const std::function<bool()>& condition);

    int socketFd() const { return fd; }

private:
    void stopLocked();
    // Waits until the listening socket has a connection or stop() was called.
    bool waitForConnection(int listenFd);
    void acquireRequestLock();
    void releaseRequestLock();

    std::string socketName;
    int fd = -1;
    bool ownsSocket = false;
    std::atomic<bool> stopping{false};
    std::function<void(CGIRequest&)> requestHandler;

    std::mutex requestLock;
    std::atomic<std::thread::id> lockOwner{}; // thread holding requestLock
    int wakeFd = -1;                          // eventfd: stop() wakes the waiting loop
};

} // namespace quillon
