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
// never closes the socket in the middle of a request. stopWhen() and the
// termination signals never wait for the lock: they wake the waiting loop
// through `wakeFd` / the signal descriptor and the loop thread acts between
// requests, so timer and bus threads never wait for an API request.
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
    // Makes run() return once the current request (if any) is finished; waits
    // for that request. Callable from any thread and more than once.
    void stop();
    // Hands `condition` to the loop thread, which evaluates it between
    // requests under the request lock and stops when it yields true. Returns
    // at once (never waits for a request); a later call replaces a condition
    // not yet evaluated. Callable from any thread.
    void stopWhen(std::function<bool()> condition);
    // `signalFd` (a signalfd, kept open by the caller) ends the loop like
    // stop() when it becomes readable, after the current request. Set before
    // run().
    void stopOnSignals(int signalFd) { signalFd_ = signalFd; }

    int socketFd() const { return fd; }

private:
    enum class Wake { Connection, Stopped, Check, Signal };

    void stopLocked();
    void wakeLoop();
    // Runs a condition handed in by stopWhen(); loop thread, lock held.
    void runPendingCheck();
    // Waits until the listening socket has a connection, stop() or
    // stopWhen() was called, or a signal arrived.
    Wake waitForConnection(int listenFd);
    void acquireRequestLock();
    void releaseRequestLock();

    std::string socketName;
    int fd = -1;
    bool ownsSocket = false;
    std::atomic<bool> stopping{false};
    std::function<void(CGIRequest&)> requestHandler;

    std::mutex requestLock;
    std::atomic<std::thread::id> lockOwner{}; // thread holding requestLock
    int wakeFd = -1;                          // eventfd: wakes the waiting loop
    int signalFd_ = -1;                       // signalfd of the termination signals
    int stopSignal = 0;                       // the signal that ended the loop
    std::mutex checkLock;                     // guards pendingCheck (innermost lock)
    std::function<bool()> pendingCheck;
};

} // namespace quillon
