// Requests per second through lighttpd and cgirelay: libpavane answering
// getScanMode (hosted in this process on a GLib main loop) against the same
// relay answering a fixed reply without the library. Both are measured in one
// run, alternating, with wrk; the ratio is printed.
//
//   pavane_web_bench [seconds-per-round=3] [rounds=3]
#include <arpa/inet.h>
#include <glib.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "pavane/video_output.h"

extern char** environ;

namespace
{

int scanMode = 0;

int versions(char*** list, int* count)
{
    static char v[] = "1.2";
    static char* l[] = {v};
    *list = l;
    *count = 1;
    return 0;
}
int ports(VideoOutputServicePort** list, int* count)
{
    static VideoOutputServicePort p[] = {{0, 0, const_cast<char*>("HDMI"), 1}};
    *list = p;
    *count = 1;
    return 0;
}
int getScanMode(int, int* mode)
{
    *mode = scanMode;
    return 0;
}

void writeFile(const std::string& path, const std::string& text)
{
    std::ofstream(path) << text;
}

pid_t spawn(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    return pid;
}

// A free loopback TCP port (bound, read back, released).
int freePort()
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    close(fd);
    return port;
}

// Runs wrk and returns its requests per second (0 on failure).
double measure(const std::string& url, const std::string& script, int seconds)
{
    std::string cmd =
        "wrk -t1 -c4 -d" + std::to_string(seconds) + "s -s '" + script + "' '" + url + "' 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr)
        return 0;
    char line[512];
    double rps = 0;
    long non2xx = 0;
    while (fgets(line, sizeof(line), p) != nullptr) {
        std::sscanf(line, " Requests/sec: %lf", &rps);
        std::sscanf(line, " Non-2xx or 3xx responses: %ld", &non2xx);
    }
    pclose(p);
    if (non2xx > 0) {
        std::fprintf(stderr, "%ld failed responses from %s\n", non2xx, url.c_str());
        return 0;
    }
    return rps;
}

} // namespace

int main(int argc, char** argv)
{
    int seconds = argc > 1 ? std::atoi(argv[1]) : 3;
    int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    char tmpl[] = "/tmp/pavane-bench-XXXXXX";
    if (mkdtemp(tmpl) == nullptr)
        return 1;
    std::string dir = tmpl;
    namespace fs = std::filesystem;
    fs::create_directories(dir + "/www/local/pavane");
    fs::create_directories(dir + "/tmp");
    setenv("CAMROOT", (dir + "/root").c_str(), 1);

    // The service: libpavane on a main loop of its own thread.
    VideoOutputFunctions table{};
    table.get_supported_versions = versions;
    table.get_ports = ports;
    table.get_scan_mode = getScanMode;
    if (video_output_api_init(&table) != 0) {
        std::fprintf(stderr, "video_output_api_init failed\n");
        return 1;
    }
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    std::thread service([loop] { g_main_loop_run(loop); });

    writeFile(dir + "/www/local/pavane/videooutput2.cgi",
              "socket " + dir + "/root/run/pavane/transfer\n");
    writeFile(dir + "/www/local/pavane/fixed.cgi", "fixed-reply\n");
    int port = freePort();
    writeFile(dir + "/lighttpd.conf", "var.base = \"" + dir +
                                          "\"\n"
                                          "server.modules = ( \"mod_access\", \"mod_cgi\" )\n"
                                          "server.bind = \"127.0.0.1\"\n"
                                          "server.port = " +
                                          std::to_string(port) +
                                          "\n"
                                          "server.document-root = var.base + \"/www\"\n"
                                          "server.errorlog = var.base + \"/error.log\"\n"
                                          "server.upload-dirs = ( var.base + \"/tmp\" )\n"
                                          "$HTTP[\"url\"] =~ \"^/local/pavane/\" {\n"
                                          "  cgi.assign = ( \".cgi\" => \"" CGIRELAY "\" )\n}\n");
    writeFile(
        dir + "/post.lua",
        "wrk.method = \"POST\"\n"
        "wrk.body = '{\"apiVersion\":\"1.0\",\"method\":\"getScanMode\",\"params\":{\"id\":0}}'\n"
        "wrk.headers[\"Content-Type\"] = \"application/json\"\n");
    pid_t web = spawn({"/usr/sbin/lighttpd", "-D", "-f", dir + "/lighttpd.conf"});
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    std::string base = "http://127.0.0.1:" + std::to_string(port) + "/local/pavane/";
    std::vector<double> library, fixed;
    for (int r = 0; r < rounds; ++r) {
        fixed.push_back(measure(base + "fixed.cgi", dir + "/post.lua", seconds));
        library.push_back(measure(base + "videooutput2.cgi", dir + "/post.lua", seconds));
    }

    kill(web, SIGTERM);
    waitpid(web, nullptr, 0);
    g_main_loop_quit(loop);
    service.join();
    g_main_loop_unref(loop);
    video_output_api_free();
    fs::remove_all(dir);

    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    double lib = median(library), fix = median(fixed);
    std::printf("rounds: %d x %d s, wrk -t1 -c4, POST getScanMode\n", rounds, seconds);
    for (int r = 0; r < rounds; ++r)
        std::printf("  round %d: fixed reply %.0f req/s, libpavane %.0f req/s\n", r + 1, fixed[r],
                    library[r]);
    std::printf("median: fixed reply %.0f req/s, libpavane %.0f req/s, ratio %.1f%% (target >= "
                "80%%)\n",
                fix, lib, fix > 0 ? 100.0 * lib / fix : 0.0);
    return fix > 0 && lib > 0 ? 0 : 1;
}
