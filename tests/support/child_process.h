#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport
{

// A program started by a test. Its standard output and error are collected
// (and echoed to the test's stderr when PTZ_TEST_ECHO is set); the process is
// terminated and reaped on destruction. A program built for the same machine
// as the test itself starts through the emulator of testEmulator() when there
// is one (cross builds run under qemu-user); other programs (dbus-daemon,
// lighttpd, curl) always start directly.
class ChildProcess
{
public:
    ChildProcess(std::vector<std::string> argv, std::map<std::string, std::string> env = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    // Everything written to stdout and stderr so far.
    std::string output() const;
    // Waits until the output contains `text`.
    bool waitForOutput(const std::string& text,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    // True while the process has not exited (reaps it when it has).
    bool running();
    // Waits for the process to exit by itself; returns its wait status or -1
    // on time-out.
    int waitExit(std::chrono::milliseconds timeout);
    // Sends `sig`, waits up to `grace`, then SIGKILL; returns the wait status.
    int stop(int sig = 15, std::chrono::milliseconds grace = std::chrono::seconds(5));

private:
    void readLoop(int fd);

    pid_t pid_ = -1;
    int status_ = -1;
    bool reaped_ = false;
    int outFd_ = -1;
    std::thread reader_;
    mutable std::mutex lock_;
    std::string output_;
    bool outputClosed_ = false; // the reader saw end of file (guarded by lock_)
};

// The emulator that runs this build's programs: $PTZ_TEST_EMULATOR when set
// (empty: none), else the cross build's emulator, else none.
std::string testEmulator();

// `argv` with the emulator in front when argv[0] is an ELF program for the
// machine this test was built for and there is an emulator; else `argv`.
std::vector<std::string> emulatedArgv(std::vector<std::string> argv);

} // namespace testsupport
