// The quillon program as a whole: start-up, idle shutdown, socket activation.

#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "quillon_server.h"
#include "support/http_client.h"
#include "support/wait.h"

using namespace testsupport;
using namespace std::chrono;

namespace
{

const std::string kVersions = R"({"method":"getSupportedVersions","params":{}})";

std::map<std::string, std::string> quillonEnv(const TempDir& dir)
{
    return {{"CAMROOT", dir.path() + "/root"},
            {"QUILLON_LOG_STDERR", "1"},
            {"FCGI_SOCKET_NAME", dir.path() + "/quillon.sock"}};
}

bool exitedCleanly(int status)
{
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The command line of quillon in `dir`: run directly, or, when `passed` is
// given, by systemd-socket-activate listening there (it runs quillon when the
// first connection arrives and hands on only the variables named with -E).
std::vector<std::string> quillonArgv(const TempDir& dir, const std::string& passed = {})
{
    std::vector<std::string> argv;
    if (!passed.empty()) {
        argv = {"/usr/bin/systemd-socket-activate", "-l", passed};
        for (const auto& [name, value] : quillonEnv(dir))
            argv.push_back("-E" + name + "=" + value);
    }
    for (auto& arg : emulatedArgv({QUILLON_BIN})) // the activator does not know the emulator
        argv.push_back(arg);
    return argv;
}

// Sends `sig` and waits (generously) for the exit; returns the wait status,
// -1 when the process is still running. Prints the measured time.
int signalAndWait(ChildProcess& process, int sig, steady_clock::time_point since)
{
    kill(process.pid(), sig);
    int status = process.waitExit(seconds(10));
    if (status != -1)
        std::printf("quillon exited %lld ms after %s\n",
                    static_cast<long long>(
                        duration_cast<milliseconds>(steady_clock::now() - since).count()),
                    strsignal(sig));
    return status;
}

// The orderly shutdown was logged, in order.
void expectShutdownLogged(const std::string& output, int sig)
{
    size_t at = output.find("CGI: stopping on signal " + std::to_string(sig) + "\n");
    EXPECT_NE(at, std::string::npos) << output;
    for (const char* step : {"Autotracker shutting down\n", "Autotracker stopped\n"}) {
        at = output.find(step, at == std::string::npos ? 0 : at);
        EXPECT_NE(at, std::string::npos) << step << " missing\n" << output;
    }
}

// Unix sockets bound to `path` (from /proc/net/unix): their inodes as
// "socket:[N]", and whether one of them listens. The socket file appears at
// bind(), before listen(): connecting before that is refused.
struct BoundSockets {
    std::set<std::string> inodes;
    bool listening = false;
};

BoundSockets socketsBoundTo(const std::string& path)
{
    BoundSockets found;
    std::ifstream table("/proc/net/unix");
    std::string line;
    std::getline(table, line); // header
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string num, refs, protocol, flags, type, state, inode, name;
        if (fields >> num >> refs >> protocol >> flags >> type >> state >> inode >> name &&
            name == path) {
            found.inodes.insert("socket:[" + inode + "]");
            found.listening = found.listening || flags == "00010000"; // __SO_ACCEPTCON
        }
    }
    return found;
}

bool listensOn(const std::string& path)
{
    return socketsBoundTo(path).listening;
}

// How many of `pid`'s descriptors are Unix sockets bound to `path`: the
// listening socket, plus one per accepted connection.
int socketsOn(pid_t pid, const std::string& path)
{
    auto inodes = socketsBoundTo(path).inodes;
    int count = 0;
    for (const auto& entry :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
        std::error_code error;
        auto target = std::filesystem::read_symlink(entry.path(), error);
        if (!error && inodes.count(target.string()) != 0)
            ++count;
    }
    return count;
}

// A POST whose body comes through a FIFO the test holds: once quillon has
// accepted it (a second socket on `socketPath` in `pid`), the request stays
// in flight, quillon waiting for the body, until finish() writes it.
class RequestInFlight
{
public:
    RequestInFlight(pid_t pid, const std::string& socketPath, const TempDir& dir)
        : fifo(dir.file("body"))
    {
        if (mkfifo(fifo.c_str(), 0600) != 0 || (body = open(fifo.c_str(), O_RDWR)) < 0)
            throw std::runtime_error("no FIFO");
        int before = socketsOn(pid, socketPath);
        client = std::make_unique<ChildProcess>(
            std::vector<std::string>{"/bin/sh", "-c",
                                     "exec /usr/bin/cgi-fcgi -bind -connect \"$0\" < \"$1\"",
                                     socketPath, fifo},
            std::map<std::string, std::string>{
                {"REQUEST_METHOD", "POST"},
                {"SCRIPT_NAME", "/local/quillon/operator.cgi"},
                {"CONTENT_LENGTH", std::to_string(kVersions.size())}});
        accepted = waitFor([&] { return socketsOn(pid, socketPath) > before; });
    }
    ~RequestInFlight()
    {
        if (body >= 0)
            close(body);
        unlink(fifo.c_str());
    }
    // Sends the body; returns the client's output once it has its reply.
    std::string finish()
    {
        ssize_t written = write(body, kVersions.data(), kVersions.size());
        close(body);
        body = -1;
        if (written != static_cast<ssize_t>(kVersions.size()) || client->waitExit(seconds(10)) != 0)
            return "no reply: " + client->output();
        return client->output();
    }

    bool accepted = false;

private:
    std::string fifo;
    int body = -1;
    std::unique_ptr<ChildProcess> client;
};

} // namespace

// SIGTERM and SIGINT end quillon, started as the main job starts it, at once
// and through the orderly shutdown.
TEST(QuillonSignals, IdleDaemonStopsOnTerminationSignals)
{
    for (int sig : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(strsignal(sig));
        QuillonServer server(kActiveConf);
        ASSERT_EQ(httpPost(server.url("/local/quillon/operator.cgi"), kVersions).status, 200)
            << server.process().output();
        int status = signalAndWait(server.process(), sig, steady_clock::now());
        ASSERT_NE(status, -1) << "still running\n" << server.process().output();
        EXPECT_TRUE(exitedCleanly(status)) << status;
        expectShutdownLogged(server.process().output(), sig);
    }
}

// A SIGTERM during a request lets the request finish and be answered, then
// ends the process, on its own socket and on one passed by the service
// manager (which stop() cannot shut down, so the loop waits in poll()).
TEST(QuillonSignals, RequestInFlightIsAnsweredThenTheDaemonStops)
{
    for (bool activated : {false, true}) {
        SCOPED_TRACE(activated ? "socket activation" : "own socket");
        TempDir dir("quillon-in-flight");
        std::filesystem::create_directories(dir.path() + "/root/etc/quillon");
        dir.write("root/etc/quillon/application.conf", kActiveConf);
        std::string socket = dir.path() + (activated ? "/activated.sock" : "/quillon.sock");
        ChildProcess quillon(quillonArgv(dir, activated ? socket : ""), quillonEnv(dir));
        // The activator runs quillon when the first connection arrives.
        ASSERT_TRUE(waitFor([&] { return listensOn(socket); })) << quillon.output();

        RequestInFlight request(quillon.pid(), socket, dir);
        ASSERT_TRUE(request.accepted) << "the request was not accepted\n" << quillon.output();
        kill(quillon.pid(), SIGTERM);
        std::string reply = request.finish();
        auto answered = steady_clock::now();
        EXPECT_NE(reply.find("apiVersions"), std::string::npos) << reply;
        int status = quillon.waitExit(seconds(10));
        ASSERT_NE(status, -1) << "still running\n" << quillon.output();
        std::printf("quillon (%s) exited %lld ms after answering the request in flight\n",
                    activated ? "socket activation" : "own socket",
                    static_cast<long long>(
                        duration_cast<milliseconds>(steady_clock::now() - answered).count()));
        EXPECT_TRUE(exitedCleanly(status)) << status;
        expectShutdownLogged(quillon.output(), SIGTERM);
    }
}

// Idle under socket activation, SIGTERM ends the loop as well.
TEST(QuillonSignals, SocketActivatedDaemonStopsOnSigterm)
{
    TempDir dir("quillon-activated");
    std::filesystem::create_directories(dir.path() + "/root/etc/quillon");
    dir.write("root/etc/quillon/application.conf", kActiveConf);
    std::string passed = dir.path() + "/activated.sock";
    ChildProcess quillon(quillonArgv(dir, passed), quillonEnv(dir));
    ASSERT_TRUE(waitFor([&] { return listensOn(passed); })) << quillon.output();
    ChildProcess client({"/usr/bin/cgi-fcgi", "-bind", "-connect", passed},
                        {{"REQUEST_METHOD", "POST"},
                         {"SCRIPT_NAME", "/local/quillon/operator.cgi"},
                         {"CONTENT_LENGTH", "0"}});
    ASSERT_EQ(client.waitExit(seconds(10)), 0) << client.output() << quillon.output();
    ASSERT_TRUE(quillon.waitForOutput("CGI-out:")) << quillon.output();

    int status = signalAndWait(quillon, SIGTERM, steady_clock::now());
    ASSERT_NE(status, -1) << "still running\n" << quillon.output();
    EXPECT_TRUE(exitedCleanly(status)) << status;
    expectShutdownLogged(quillon.output(), SIGTERM);
}

// Log lines of near-limit bodies reach standard error whole, each on its own
// line.
TEST(QuillonProcess, LongLogLinesAreWrittenWhole)
{
    QuillonServer server(kActiveConf);
    std::string body = R"({"method":"getSupportedVersions","params":{},"context":")" +
                       std::string(4000, 'c') + "\"}";
    ASSERT_LT(body.size(), 4096u);
    auto reply = httpPost(server.url("/local/quillon/operator.cgi"), body);
    EXPECT_EQ(reply.status, 200) << reply.body;
    ASSERT_TRUE(server.process().waitForOutput("CGI-out:")) << server.process().output();
    std::string output = server.process().output();
    EXPECT_NE(output.find("quillon[I]: CGI-in:1:[" + body + "]\nquillon["), std::string::npos)
        << output;
}

// Without application.conf the application is inactive: the process ends at
// the first idle check, 10 s after start, and writes the defaults. An active
// one keeps running until "active" is set false through the API, and ends 10 s
// after that.
TEST(QuillonProcess, IdleShutdownFollowsTheActiveSetting)
{
    TempDir idleDir("quillon-idle");
    auto started = steady_clock::now();
    ChildProcess idle({QUILLON_BIN}, quillonEnv(idleDir));
    QuillonServer active(kActiveConf);

    int status = idle.waitExit(seconds(20));
    auto lifetime = steady_clock::now() - started;
    EXPECT_TRUE(exitedCleanly(status)) << status << idle.output();
    EXPECT_GE(lifetime, milliseconds(9500));
    EXPECT_LE(lifetime, seconds(16));
    EXPECT_EQ(idleDir.read("root/etc/quillon/application.conf"),
              R"({ "service": { "active": false, "version": "2.6.39+maint+1" } })");
    EXPECT_NE(idle.output().find("Autotracker starting [2.6.39+maint+1]"), std::string::npos);

    ASSERT_TRUE(active.process().running()) << active.process().output();
    auto reply =
        httpPost(active.url("/local/quillon/admin.cgi"),
                 R"({"method":"setApplicationSettings","params":{"service":{"active":false}}})");
    EXPECT_NE(reply.body.find("\"data\": { }"), std::string::npos) << reply.body;
    auto switchedOff = steady_clock::now();
    EXPECT_NE(readFile(active.root() + "/etc/quillon/application.conf").find("\"active\": false"),
              std::string::npos);
    // Still serving during the grace period.
    EXPECT_EQ(httpPost(active.url("/local/quillon/operator.cgi"), kVersions).status, 200);
    status = active.process().waitExit(seconds(20));
    EXPECT_TRUE(exitedCleanly(status)) << status << active.process().output();
    EXPECT_GE(steady_clock::now() - switchedOff, milliseconds(9500));
}

// Switching "active" back on within the grace period cancels the exit.
TEST(QuillonProcess, ReactivationWithinTheGracePeriodKeepsItRunning)
{
    QuillonServer server(""); // no application.conf: idle timer armed at start
    auto reply =
        httpPost(server.url("/local/quillon/admin.cgi"),
                 R"({"method":"setApplicationSettings","params":{"service":{"active":true}}})");
    EXPECT_NE(reply.body.find("\"data\": { }"), std::string::npos) << reply.body;
    std::this_thread::sleep_for(seconds(12));
    EXPECT_TRUE(server.process().running()) << server.process().output();
    EXPECT_EQ(httpPost(server.url("/local/quillon/operator.cgi"), kVersions).status, 200);
}

// With a socket passed by the service manager the program serves on it,
// leaves FCGI_SOCKET_NAME alone, and the idle stop still ends the loop.
TEST(QuillonProcess, ServesAPassedSocketAndStillIdlesOut)
{
    TempDir dir("quillon-activated");
    std::string passed = dir.path() + "/activated.sock";
    ChildProcess quillon(quillonArgv(dir, passed), quillonEnv(dir));
    ASSERT_TRUE(waitFor([&] { return listensOn(passed); })) << quillon.output();
    Lighttpd web(dir.path() + "/web", quillonRoutes(passed));
    auto reply = httpPost(web.url("/local/quillon/operator.cgi"), kVersions);
    EXPECT_EQ(reply.status, 200) << quillon.output();
    EXPECT_NE(reply.body.find("apiVersions"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "/quillon.sock"));

    int status = quillon.waitExit(seconds(20));
    EXPECT_TRUE(exitedCleanly(status)) << status << quillon.output();
    EXPECT_TRUE(dir.exists("root/etc/quillon/application.conf")) << quillon.output();
    EXPECT_NE(quillon.output().find("CGI-in:1:"), std::string::npos) << quillon.output();
}

TEST(QuillonProcess, StartupFailuresAndOptions)
{
    TempDir dir("quillon-startup");
    // No socket name and nothing passed in: the socket cannot be opened.
    auto env = quillonEnv(dir);
    env["FCGI_SOCKET_NAME"] = dir.path() + "/missing/dir/quillon.sock";
    ChildProcess broken({QUILLON_BIN}, env);
    EXPECT_TRUE(exitedCleanly(broken.waitExit(seconds(10)))) << broken.output();
    EXPECT_NE(broken.output().find("CGI warning:  Could not open the FCGX socket\n"),
              std::string::npos)
        << broken.output();
    EXPECT_NE(broken.output().find("CGI failed!\n"), std::string::npos);

    // An unknown option logs the usage and start-up continues.
    ChildProcess unknown({QUILLON_BIN, "-x", "-d"}, quillonEnv(dir));
    EXPECT_TRUE(
        unknown.waitForOutput("Autotracker usage: " + std::string(QUILLON_BIN) + " [-d] \n"))
        << unknown.output();
    EXPECT_TRUE(waitFor([&] { return std::filesystem::exists(dir.path() + "/quillon.sock"); }));
    EXPECT_TRUE(unknown.running());
}
