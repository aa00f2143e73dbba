// quillon behind lighttpd, a driver that prints figures:
//  - requests/s of getSupportedVersions through lighttpd, against a bare
//    libfcgi responder behind the same lighttpd configuration, alternating in
//    one run (wrk);
//  - resident memory of quillon at idle;
//  - time from starting quillon to its first served request.
//
//   quillon_web_bench [seconds-per-round=2] [rounds=9]
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "support/lighttpd.h"
#include "support/temp_dir.h"
#include "support/wait.h"

using namespace testsupport;
using Clock = std::chrono::steady_clock;

namespace
{

const std::string kBody = R"({"method":"getSupportedVersions","params":{}})";

std::string routes(const std::string& prefix, const std::string& socket)
{
    return "$HTTP[\"url\"] =~ \"^" + prefix +
           "\" {\n  fastcgi.server = ( \".cgi\" => (( \"socket\" => \"" + socket +
           "\", \"check-local\" => \"disable\" )) )\n}\n";
}

struct WrkResult {
    double perSecond = 0;
    long requests = 0;
};

WrkResult runWrk(const std::string& url, const std::string& script, int seconds)
{
    ChildProcess wrk(
        {"/usr/bin/wrk", "-t1", "-c4", "-d" + std::to_string(seconds) + "s", "-s", script, url});
    wrk.waitExit(std::chrono::seconds(seconds + 30));
    std::string out = wrk.output();
    WrkResult result;
    auto at = out.find("Requests/sec:");
    auto total = out.find(" requests in ");
    if (at == std::string::npos || total == std::string::npos) {
        std::fprintf(stderr, "wrk: %s\n", out.c_str());
        return result;
    }
    if (out.find("Non-2xx") != std::string::npos)
        std::fprintf(stderr, "wrk reported non-2xx replies:\n%s\n", out.c_str());
    result.perSecond = std::atof(out.c_str() + at + 13);
    auto lineStart = out.rfind('\n', total);
    result.requests = std::atol(out.c_str() + (lineStart == std::string::npos ? 0 : lineStart + 1));
    return result;
}

// CPU time (user + system) a process has used, in microseconds.
double cpuMicros(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    auto close = text.rfind(')');
    if (close == std::string::npos)
        return 0;
    // Fields after the command: state is field 3; utime and stime are 14, 15.
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    double utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14)
            utime = std::atof(field.c_str());
        if (i == 15)
            stime = std::atof(field.c_str());
    }
    return (utime + stime) * 1e6 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

long rssKiB(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    }
    return -1;
}

// A minimal FastCGI client: one POST of `body` on a Unix socket; true when the
// reply's output starts with a 200 status.
void record(std::string& out, int type, const std::string& content)
{
    unsigned char header[8] = {1,
                               static_cast<unsigned char>(type),
                               0,
                               1,
                               static_cast<unsigned char>(content.size() >> 8),
                               static_cast<unsigned char>(content.size() & 0xff),
                               0,
                               0};
    out.append(reinterpret_cast<char*>(header), 8);
    out += content;
}

void pair(std::string& out, const std::string& name, const std::string& value)
{
    out.push_back(static_cast<char>(name.size()));
    out.push_back(static_cast<char>(value.size()));
    out += name;
    out += value;
}

bool fastcgiPost(const std::string& socketPath, const std::string& body)
{
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    struct sockaddr_un address {
    };
    address.sun_family = AF_UNIX;
    socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return false;
    }
    std::string params;
    pair(params, "REQUEST_METHOD", "POST");
    pair(params, "SCRIPT_NAME", "/local/quillon/operator.cgi");
    pair(params, "CONTENT_LENGTH", std::to_string(body.size()));
    std::string request;
    record(request, 1, std::string("\0\1\0\0\0\0\0\0", 8)); // BEGIN_REQUEST, responder
    record(request, 4, params);
    record(request, 4, "");
    record(request, 5, body);
    record(request, 5, "");
    if (write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size())) {
        close(fd);
        return false;
    }
    std::string reply;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0)
        reply.append(buffer, static_cast<size_t>(n));
    close(fd);
    return reply.find("Status: 200 OK") != std::string::npos;
}

} // namespace

int main(int argc, char** argv)
{
    int seconds = argc > 1 ? std::atoi(argv[1]) : 2;
    int rounds = argc > 2 ? std::atoi(argv[2]) : 9;
    TempDir dir("quillon-web-bench");
    std::filesystem::create_directories(dir.path() + "/root/etc/quillon");
    dir.write("root/etc/quillon/application.conf",
              R"({ "service": { "active": true, "version": "2.6.39+maint+1" } })");
    std::string quillonSock = dir.path() + "/quillon.sock";
    std::string bareSock = dir.path() + "/bare.sock";

    ChildProcess quillon({QUILLON_BIN},
                         {{"CAMROOT", dir.path() + "/root"}, {"FCGI_SOCKET_NAME", quillonSock}});
    ChildProcess bare({BARE_BIN, bareSock});
    waitFor(
        [&] { return std::filesystem::exists(quillonSock) && std::filesystem::exists(bareSock); });
    Lighttpd web(dir.path() + "/web",
                 routes("/local/quillon/", quillonSock) + routes("/local/bare/", bareSock));
    std::string script = dir.path() + "/post.lua";
    std::ofstream(script) << "wrk.method = \"POST\"\nwrk.body = '" << kBody
                          << "'\nwrk.headers[\"Content-Type\"] = \"application/json\"\n";

    // Idle memory after the start-up work has settled.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    long idleRss = rssKiB(quillon.pid());

    // The machine is shared: alternate the two servers (changing which goes
    // first) and take medians; CPU time per request is the steadier figure.
    std::vector<double> bareRates, quillonRates, ratios, bareCpu, quillonCpu;
    for (int r = 0; r < rounds; ++r) {
        WrkResult b, q;
        double cb = 0, cq = 0;
        auto measure = [&](bool quillonServer) {
            pid_t pid = quillonServer ? quillon.pid() : bare.pid();
            double before = cpuMicros(pid);
            auto result = runWrk(
                web.url(quillonServer ? "/local/quillon/operator.cgi" : "/local/bare/operator.cgi"),
                script, seconds);
            double used = cpuMicros(pid) - before;
            (quillonServer ? q : b) = result;
            (quillonServer ? cq : cb) = result.requests > 0 ? used / result.requests : 0;
        };
        measure(r % 2 != 0);
        measure(r % 2 == 0);
        std::printf("round %d: bare %.0f req/s (%.1f us CPU/req), quillon %.0f req/s (%.1f us "
                    "CPU/req): %.0f%%\n",
                    r + 1, b.perSecond, cb, q.perSecond, cq,
                    b.perSecond > 0 ? 100 * q.perSecond / b.perSecond : 0);
        bareRates.push_back(b.perSecond);
        quillonRates.push_back(q.perSecond);
        if (b.perSecond > 0)
            ratios.push_back(q.perSecond / b.perSecond);
        bareCpu.push_back(cb);
        quillonCpu.push_back(cq);
    }
    long loadedRss = rssKiB(quillon.pid());

    std::vector<double> startMs;
    for (int i = 0; i < 5; ++i) {
        std::string sock = dir.path() + "/start" + std::to_string(i) + ".sock";
        auto t0 = Clock::now();
        ChildProcess fresh({QUILLON_BIN},
                           {{"CAMROOT", dir.path() + "/root"}, {"FCGI_SOCKET_NAME", sock}});
        bool served = waitFor([&] { return fastcgiPost(sock, kBody); }, std::chrono::seconds(10));
        auto t1 = Clock::now();
        if (served)
            startMs.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    std::sort(startMs.begin(), startMs.end());

    std::printf(
        "getSupportedVersions through lighttpd (%d alternating rounds of %d s, wrk -t1 -c4):\n",
        rounds, seconds);
    std::printf("  bare libfcgi responder: median %.0f req/s, %.1f us CPU/request\n",
                median(bareRates), median(bareCpu));
    std::printf("  quillon:                median %.0f req/s, %.1f us CPU/request\n",
                median(quillonRates), median(quillonCpu));
    std::printf("  quillon / bare: median of round ratios %.0f%% (target >= 80%%)\n",
                100 * median(ratios));
    std::printf("quillon RSS: idle %ld KiB (%.2f MiB, target <= 8 MiB), after load %ld KiB\n",
                idleRss, idleRss / 1024.0, loadedRss);
    if (!startMs.empty())
        std::printf("start to first served request: median %.1f ms, min %.1f, max %.1f (target <= "
                    "100 ms)\n",
                    startMs[startMs.size() / 2], startMs.front(), startMs.back());
    return 0;
}
