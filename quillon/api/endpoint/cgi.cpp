#include "quillon/api/endpoint/cgi.h"

#include <errno.h>
#include <fcgiapp.h>
#include <poll.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <stdexcept>

#include "quillon/api/endpoint/cgi_request.h"
#include "quillon/core/log.h"

namespace quillon
{

namespace
{

/*
 * A listening Unix socket at `path`, like FCGX_OpenSocket does it, but
 * reporting failure: libfcgi ends the whole process when bind or listen
 * fails. A stale socket left by an earlier run is replaced; any other file at
 * the path is left alone. "host:port" names still go to libfcgi.
 */
int openSocket(const std::string& path, int backlog)
{
    if (path.empty())
        return -1;
    if (path[0] != '/' && path.find(':') != std::string::npos)
        return FCGX_OpenSocket(path.c_str(), backlog);
    struct sockaddr_un address {
    };
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return -1;
    path.copy(address.sun_path, path.size());
    struct stat existing;
    if (lstat(path.c_str(), &existing) == 0 && S_ISSOCK(existing.st_mode))
        unlink(path.c_str());
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    if (bind(fd, reinterpret_cast<struct sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, backlog) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

} // namespace

CGI::CGI(std::string name) : socketName(std::move(name))
{
    wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    acquireRequestLock();
}

CGI::~CGI()
{
    // A handler whose loop never ran (failed init) still holds the lock.
    if (lockOwner == std::this_thread::get_id())
        releaseRequestLock();
    if (fd >= 0) {
        if (ownsSocket)
            shutdown(fd, SHUT_RDWR);
        close(fd);
    }
    if (wakeFd >= 0)
        close(wakeFd);
}

void CGI::acquireRequestLock()
{
    requestLock.lock();
    lockOwner = std::this_thread::get_id();
}

void CGI::releaseRequestLock()
{
    lockOwner = std::thread::id();
    requestLock.unlock();
}

bool CGI::init(int backlog, std::function<void(CGIRequest&)> handler)
{
    try {
        if (FCGX_Init() != 0)
            throw std::runtime_error("Could not initialize FCGX");
        int passed = sd_listen_fds(1);
        if (passed < 0)
            throw std::runtime_error(std::string("Error retrieving socket file descriptor: ") +
                                     strerror(-passed));
        if (passed >= 1) {
            fd = SD_LISTEN_FDS_START;
        } else {
            ownsSocket = true;
            fd = openSocket(socketName, backlog);
            if (fd == -1)
                throw std::runtime_error("Could not open the FCGX socket");
            if (chmod(socketName.c_str(), 0777) == -1)
                throw std::runtime_error("Could not chmod the FCGX socket");
        }
        if (sd_is_socket(fd, AF_UNSPEC, 0, -1) <= 0)
            throw std::runtime_error("Unable to establish socket connection.");
        requestHandler = std::move(handler);
        return true;
    } catch (const std::exception& e) {
        if (fd != -1) {
            close(fd);
            fd = -1;
        }
        ownsSocket = false;
        quillonLog(LOG_WARNING, "CGI warning:  %s\n", e.what());
        return false;
    }
}

CGI::Wake CGI::waitForConnection(int listenFd)
{
    for (;;) {
        if (stopping)
            return Wake::Stopped;
        struct pollfd fds[3] = {{listenFd, POLLIN, 0}, {wakeFd, POLLIN, 0}, {signalFd_, POLLIN, 0}};
        int ready = poll(fds, 3, -1); // negative descriptors are skipped
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0 || stopping)
            return Wake::Stopped;
        if (fds[2].revents & POLLIN) {
            struct signalfd_siginfo info;
            if (read(signalFd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
                stopSignal = static_cast<int>(info.ssi_signo);
                return Wake::Signal;
            }
        }
        if (fds[1].revents & POLLIN) {
            uint64_t count;
            ssize_t drained = read(wakeFd, &count, sizeof count);
            (void)drained;
            std::lock_guard<std::mutex> guard(checkLock);
            if (pendingCheck)
                return Wake::Check;
        }
        if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL))
            return Wake::Stopped;
        if (fds[0].revents & POLLIN)
            return Wake::Connection;
    }
}

int CGI::run()
{
    if (lockOwner != std::this_thread::get_id())
        acquireRequestLock();
    bool firstPass = true;
    int result = -1;
    for (;;) {
        runPendingCheck();
        if (stopping || fd < 0)
            break;
        CGIRequest request;
        if (!request.init(fd, FCGI_FAIL_ACCEPT_ON_INTR)) {
            quillonLog(LOG_WARNING, "Could not initialize the FCGX request\n");
            if (firstPass) {
                result = -1;
                break;
            }
            continue;
        }
        firstPass = false;

        // fd may be closed by stop() once the lock is released; the loop
        // works on the descriptor it saw under the lock. It waits in poll(),
        // where stop(), stopWhen() and the signals can wake it, and accepts
        // only once a connection is there.
        int listenFd = fd;
        releaseRequestLock();
        Wake wake = listenFd >= 0 ? waitForConnection(listenFd) : Wake::Stopped;
        result = wake == Wake::Connection ? request.accept() : -1;
        acquireRequestLock();
        if (wake == Wake::Check)
            continue;
        if (wake == Wake::Signal) {
            quillonLog(LOG_INFO, "CGI: stopping on signal %d\n", stopSignal);
            stopLocked();
        }
        if (result != 0)
            break;

        try {
            requestHandler(request);
        } catch (const std::exception& e) {
            quillonLog(LOG_WARNING, "CGI warning:  %s\n", e.what());
        }
        request.finish();
    }
    releaseRequestLock();
    return result;
}

void CGI::stop()
{
    // The loop thread itself holds the lock while it handles a request.
    std::unique_lock<std::mutex> guard(requestLock, std::defer_lock);
    if (lockOwner != std::this_thread::get_id())
        guard.lock();
    stopLocked();
}

void CGI::stopWhen(std::function<bool()> condition)
{
    {
        std::lock_guard<std::mutex> guard(checkLock);
        pendingCheck = std::move(condition);
    }
    wakeLoop();
}

void CGI::runPendingCheck()
{
    std::function<bool()> check;
    {
        std::lock_guard<std::mutex> guard(checkLock);
        check.swap(pendingCheck);
    }
    if (check && check())
        stopLocked();
}

void CGI::wakeLoop()
{
    if (wakeFd >= 0) {
        uint64_t one = 1;
        ssize_t written = write(wakeFd, &one, sizeof one);
        (void)written;
    }
}

void CGI::stopLocked()
{
    stopping = true;
    wakeLoop();
    if (ownsSocket) {
        shutdown(fd, SHUT_RDWR);
        ownsSocket = false;
    }
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

} // namespace quillon
