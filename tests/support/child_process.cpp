#include "support/child_process.h"

#include <elf.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "support/wait.h"

extern char** environ;

namespace testsupport
{

namespace
{

// ELF machine of the code this file is compiled into.
constexpr uint16_t ownElfMachine()
{
#if defined(__arm__)
    return EM_ARM;
#elif defined(__aarch64__)
    return EM_AARCH64;
#elif defined(__x86_64__)
    return EM_X86_64;
#elif defined(__i386__)
    return EM_386;
#else
    return EM_NONE;
#endif
}

// True when `path` is an ELF file for ownElfMachine().
bool isOwnMachineElf(const std::string& path)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    Elf32_Ehdr h{}; // e_ident and e_machine sit at the same offsets in both classes
    ssize_t n = read(fd, &h, sizeof h);
    close(fd);
    return n == static_cast<ssize_t>(sizeof h) && std::memcmp(h.e_ident, ELFMAG, SELFMAG) == 0 &&
           h.e_machine == ownElfMachine();
}

} // namespace

std::string testEmulator()
{
    if (const char* e = std::getenv("PTZ_TEST_EMULATOR"))
        return e;
#ifdef PTZ_TEST_EMULATOR_DEFAULT
    return PTZ_TEST_EMULATOR_DEFAULT;
#else
    return {};
#endif
}

std::vector<std::string> emulatedArgv(std::vector<std::string> argv)
{
    std::string emulator = testEmulator();
    if (emulator.empty() || argv.empty() || !isOwnMachineElf(argv[0]))
        return argv;
    argv.insert(argv.begin(), emulator);
    return argv;
}

ChildProcess::ChildProcess(std::vector<std::string> argv, std::map<std::string, std::string> env)
{
    if (argv.empty())
        throw std::invalid_argument("empty argv");
    argv = emulatedArgv(std::move(argv));
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");

    std::vector<char*> args;
    for (auto& a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);

    // Build the environment before fork: only async-signal-safe calls after it.
    std::map<std::string, std::string> merged;
    for (char** e = environ; *e; ++e) {
        const char* eq = std::strchr(*e, '=');
        if (eq)
            merged[std::string(*e, static_cast<size_t>(eq - *e))] = eq + 1;
    }
    for (auto& [k, v] : env)
        merged[k] = v;
    std::vector<std::string> envStrings;
    for (auto& [k, v] : merged)
        envStrings.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& s : envStrings)
        envp.push_back(s.data());
    envp.push_back(nullptr);

    pid_ = fork();
    if (pid_ < 0)
        throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        setpgid(0, 0);
        dup2(pipeFds[1], 1);
        dup2(pipeFds[1], 2);
        int devnull = open("/dev/null", O_RDONLY);
        if (devnull >= 0)
            dup2(devnull, 0);
        execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    close(pipeFds[1]);
    outFd_ = pipeFds[0];
    reader_ = std::thread([this] { readLoop(outFd_); });
}

ChildProcess::~ChildProcess()
{
    stop();
    if (reader_.joinable())
        reader_.join();
    if (outFd_ >= 0)
        close(outFd_);
}

void ChildProcess::readLoop(int fd)
{
    bool echo = std::getenv("PTZ_TEST_ECHO") != nullptr;
    char buf[4096];
    while (true) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        if (echo)
            fwrite(buf, 1, n, stderr);
        std::lock_guard<std::mutex> g(lock_);
        output_.append(buf, n);
    }
    std::lock_guard<std::mutex> g(lock_);
    outputClosed_ = true;
}

std::string ChildProcess::output() const
{
    std::lock_guard<std::mutex> g(lock_);
    return output_;
}

bool ChildProcess::waitForOutput(const std::string& text, std::chrono::milliseconds timeout) const
{
    return waitFor([&] { return output().find(text) != std::string::npos; }, timeout);
}

bool ChildProcess::running()
{
    if (reaped_)
        return false;
    int st;
    pid_t r = waitpid(pid_, &st, WNOHANG);
    if (r == pid_) {
        reaped_ = true;
        status_ = st;
        return false;
    }
    return true;
}

int ChildProcess::waitExit(std::chrono::milliseconds timeout)
{
    if (!waitFor([&] { return !running(); }, timeout))
        return -1;
    // The process is gone, but the reader may not have drained the pipe yet:
    // give it a moment so that output() holds everything the process wrote
    // (a grandchild still holding the pipe open only costs the grace time).
    waitFor(
        [&] {
            std::lock_guard<std::mutex> g(lock_);
            return outputClosed_;
        },
        std::chrono::seconds(1));
    return status_;
}

int ChildProcess::stop(int sig, std::chrono::milliseconds grace)
{
    if (!running())
        return status_;
    kill(pid_, sig);
    if (waitExit(grace) != -1)
        return status_;
    kill(-pid_, SIGKILL);
    kill(pid_, SIGKILL);
    waitExit(std::chrono::seconds(5));
    return status_;
}

} // namespace testsupport
