#include "quillon/api/endpoint/cgi.h"

#include <errno.h>
#include <fcgiapp.h>
#include <poll.h>
#include <string.h>
#include <sys/eventfd.h>
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

bool CGI::waitForConnection(int listenFd)
{
    for (;;) {
        if (stopping)
            return false;
        struct pollfd fds[2] = {{listenFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        int ready = poll(fds, wakeFd >= 0 ? 2 : 1, -1);
        // libfcgi catches SIGTERM and SIGUSR1 to end its accept loop; let
        // FCGX_Accept_r see that rather than waiting on.
        if (ready < 0 && errno == EINTR)
            return !stopping;
        if (ready < 0 || stopping)
            return false;
        if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL))
            return false;
        if (fds[0].revents & POLLIN)
            return true;
    }
}

int CGI::run()
{
    if (lockOwner != std::this_thread::get_id())
        acquireRequestLock();
    bool firstPass = true;
    int result = -1;
    for (;;) {
        CGIRequest request;
        if (stopping || fd < 0)
            break;
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
        // works on the descriptor it saw under the lock.
        int listenFd = fd;
        bool shutDownByStop = ownsSocket;
        releaseRequestLock();
        // stop() shuts an own socket down, which wakes accept(); a passed-in
        // socket is only closed (the service manager keeps it), so the loop
        // waits in poll() where stop() can wake it.
        result = listenFd >= 0 && (shutDownByStop || waitForConnection(listenFd)) ? request.accept()
                                                                                  : -1;
        acquireRequestLock();
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
    stopIf([] { return true; });
}

bool CGI::stopIf(const std::function<bool()>& condition)
{
    // The loop thread itself holds the lock while it handles a request.
    std::unique_lock<std::mutex> guard(requestLock, std::defer_lock);
    if (lockOwner != std::this_thread::get_id())
        guard.lock();
    if (!condition())
        return false;
    stopLocked();
    return true;
}

void CGI::stopLocked()
{
    stopping = true;
    if (wakeFd >= 0) {
        uint64_t one = 1;
        ssize_t written = write(wakeFd, &one, sizeof one);
        (void)written;
    }
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
