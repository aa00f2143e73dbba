#include "support/wait.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace testsupport
{

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    auto end = std::chrono::steady_clock::now() + timeout;
    while (true) {
        if (done())
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::chrono::seconds faultFreezeTime()
{
    const char* text = std::getenv("PTZ_FAULT_FREEZE_SECONDS");
    long seconds = text != nullptr ? std::strtol(text, nullptr, 10) : 0;
    return std::chrono::seconds(seconds > 0 ? seconds : 8);
}

static int freePort(int type)
{
    int fd = socket(AF_INET, type, 0);
    if (fd < 0)
        throw std::runtime_error("socket failed");
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        close(fd);
        throw std::runtime_error("bind failed");
    }
    close(fd);
    return ntohs(a.sin_port);
}

int freeTcpPort()
{
    return freePort(SOCK_STREAM);
}
int freeUdpPort()
{
    return freePort(SOCK_DGRAM);
}

} // namespace testsupport
