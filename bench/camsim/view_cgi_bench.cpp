// Requests per second of camsim's view.cgi through lighttpd and cgirelay
// (target >= 500/s), beside the same relay answering a fixed reply. camsim
// runs the walking-person scenario on a private bus and holds a status frame
// of 10 boxes and 2 zones sent through its event producer. wrk measures.
//
//   view_cgi_bench [seconds-per-round=3] [rounds=3]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "camsim_runner.h"
#include "support/lighttpd.h"
#include "support/temp_dir.h"

namespace
{

// wrk's requests per second for GET `url`, 0 when any request failed.
double wrkRate(const std::string& url, int seconds)
{
    std::string cmd = "wrk -t1 -c4 -d" + std::to_string(seconds) + "s '" + url + "' 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr)
        return 0;
    char line[512];
    double rate = 0;
    long failed = 0;
    while (fgets(line, sizeof line, p) != nullptr) {
        std::sscanf(line, " Requests/sec: %lf", &rate);
        std::sscanf(line, " Non-2xx or 3xx responses: %ld", &failed);
    }
    pclose(p);
    return failed > 0 ? 0 : rate;
}

std::string statusFrame()
{
    nlohmann::json objects = nlohmann::json::array();
    for (int i = 0; i < 10; ++i)
        objects.push_back({{"id", i},
                           {"x", 0.05 + 0.09 * i},
                           {"y", 0.3},
                           {"width", 0.08},
                           {"height", 0.3},
                           {"tracking", i == 3}});
    nlohmann::json zone = {{"profileId", 1},
                           {"zoneType", 0},
                           {"enabled", true},
                           {"polygon", {0.1, 0.5, 0.9, 0.5, 0.9, 0.95, 0.1, 0.95}}};
    return nlohmann::json{{"objects", objects},
                          {"zones", {zone, zone}},
                          {"trackerEnabled", true},
                          {"trackedId", 3},
                          {"zoomMag", 1.5}}
        .dump();
}

} // namespace

int main(int argc, char** argv)
{
    int seconds = argc > 1 ? std::atoi(argv[1]) : 3;
    int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    camsimtest::CamsimRunner cam({"--feeds-scenario", SCENARIO});
    int id = camsimtest::declareStreamObjects(cam);
    std::string frame = statusFrame();
    if (id < 0 || !camsimtest::sendStreamObjects(cam, id, frame, g_get_real_time())) {
        std::fprintf(stderr, "the status frame was refused\n");
        return 1;
    }

    testsupport::TempDir dir("view-cgi-bench");
    dir.write("web/www/local/camsim/view.cgi", "socket " + cam.root() + "/run/camsim/transfer\n");
    dir.write("web/www/local/camsim/fixed.cgi", "fixed-reply\n");
    testsupport::Lighttpd web(dir.path() + "/web",
                              "$HTTP[\"url\"] =~ \"^/local/camsim/\" {\n"
                              "  cgi.assign = ( \".cgi\" => \"" CGIRELAY "\" )\n}\n");
    std::vector<double> view, fixed;
    for (int i = 0; i < rounds; ++i) {
        fixed.push_back(wrkRate(web.url("/local/camsim/fixed.cgi"), seconds));
        view.push_back(wrkRate(web.url("/local/camsim/view.cgi"), seconds));
        std::printf("  round %d: fixed reply %.0f req/s, view.cgi %.0f req/s\n", i + 1, fixed[i],
                    view[i]);
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf("view.cgi (%zu-byte status frame, wrk -t1 -c4, GET): median %.0f req/s "
                "(target >= 500), fixed reply %.0f req/s\n",
                frame.size(), median(view), median(fixed));
    return median(view) > 0 ? 0 : 1;
}
