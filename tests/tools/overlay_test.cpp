// The overlay page in headless Chromium behind lighttpd: a screenshot of a
// fixture checked pixel by pixel (overlay_pixels.py), the rectangles it lists
// as drawn for fixed views, the live page polling camsim's view.cgi, and
// the live page while the real daemon follows a person.
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "camsim_runner.h"
#include "quillon_endpoint/quillon_server.h"
#include "support/child_process.h"
#include "support/http_client.h"
#include "support/lighttpd.h"
#include "support/temp_dir.h"
#include "support/wait.h"

using nlohmann::json;
using namespace testsupport;

namespace
{

const std::string kPage = "/local/camsim/overlay.html";

class OverlayPage : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const char* file : {"overlay.html", "overlay.js"})
            dir_.write(std::string("web/www/local/camsim/") + file,
                       readFile(std::string(OVERLAY_DIR "/") + file));
        dir_.write("web/www/local/camsim/fixture.json", readFile(OVERLAY_FIXTURE));
        json quiet = json::parse(readFile(OVERLAY_FIXTURE));
        quiet["stream"] = nullptr;
        dir_.write("web/www/local/camsim/nostatus.json", quiet.dump());
    }

    void startWeb(const std::string& transferSocket = "")
    {
        if (!transferSocket.empty())
            dir_.write("web/www/local/camsim/view.cgi", "socket " + transferSocket + "\n");
        web_ = std::make_unique<Lighttpd>(
            dir_.path() + "/web",
            "$HTTP[\"url\"] =~ \"^/local/camsim/\" {\n"
            "  cgi.assign = ( \".cgi\" => \"" CGIRELAY "\" )\n"
            "  mimetype.assign = ( \".html\" => \"text/html\", \".js\" => \"text/javascript\",\n"
            "                      \".json\" => \"application/json\" )\n"
            "}\n");
    }

    // Runs headless Chromium on `path` with `mode` (--dump-dom or
    // --screenshot=FILE) and returns its output.
    std::string chromium(const std::string& mode, const std::string& path)
    {
        std::string profile = dir_.path() + "/profile" + std::to_string(runs_++);
        ChildProcess browser({"/usr/bin/chromium", "--headless", "--no-sandbox", "--disable-gpu",
                              "--disable-quic", "--no-first-run", "--disable-background-networking",
                              "--disable-component-update", "--disable-sync",
                              "--user-data-dir=" + profile, "--window-size=1000,700",
                              "--force-device-scale-factor=1", "--hide-scrollbars",
                              "--virtual-time-budget=3000", mode, web_->url(path)},
                             {{"HOME", dir_.path()}});
        int status = browser.waitExit(std::chrono::seconds(120));
        EXPECT_EQ(status, 0) << browser.output();
        return browser.output();
    }

    // The element's text in a --dump-dom output.
    static std::string element(const std::string& dom, const std::string& open,
                               const std::string& close)
    {
        auto start = dom.find(open);
        if (start == std::string::npos)
            return "";
        start += open.size();
        return dom.substr(start, dom.find(close, start) - start);
    }
    static json drawn(const std::string& dom)
    {
        return json::parse(element(dom, "<pre id=\"drawn\">", "</pre>"), nullptr, false);
    }
    static std::string statusLine(const std::string& dom)
    {
        return element(dom, "<div id=\"status\">", "</div>");
    }

    TempDir dir_{"overlay"};
    std::unique_ptr<Lighttpd> web_;
    int runs_ = 0;
};

TEST_F(OverlayPage, ScreenshotOfAFixtureShowsBoxesZonesAndScene)
{
    startWeb();
    std::string shot = dir_.path() + "/overlay.png";
    chromium("--screenshot=" + shot, kPage + "?src=fixture.json");
    ASSERT_TRUE(std::filesystem::exists(shot));
    if (const char* keep = std::getenv("OVERLAY_SCREENSHOT_DIR"))
        std::filesystem::copy_file(shot, std::string(keep) + "/overlay.png",
                                   std::filesystem::copy_options::overwrite_existing);
    ChildProcess check({"/usr/bin/python3", OVERLAY_PIXELS, shot});
    EXPECT_EQ(check.waitExit(std::chrono::seconds(60)), 0) << check.output();
}

TEST_F(OverlayPage, ListsWhatItDrewAndSaysWhyNothingIsThere)
{
    startWeb();
    const json walker = {{"kind", "scene"}, {"name", "walker"}, {"x", 144},
                         {"y", 135},        {"w", 96},          {"h", 162}};
    struct Case {
        std::string src;
        std::string status;
        json drawn;
    } cases[] = {
        {"fixture.json",
         "trackerEnabled: true  trackedId: 5  isMoving: true  zoomMag: 2.5  latestResult: 3  "
         "frame age: 0.25 s",
         json::array({{{"kind", "zone"},
                       {"profileId", 1},
                       {"enabled", true},
                       {"x", 48},
                       {"y", 324},
                       {"w", 384},
                       {"h", 189}},
                      {{"kind", "zone"},
                       {"profileId", 2},
                       {"enabled", false},
                       {"x", 720},
                       {"y", 297},
                       {"w", 192},
                       {"h", 216}},
                      walker,
                      {{"kind", "box"},
                       {"id", 5},
                       {"color", "#00ff00"},
                       {"tracking", true},
                       {"active", true},
                       {"x", 96},
                       {"y", 108},
                       {"w", 192},
                       {"h", 216}},
                      {{"kind", "box"},
                       {"id", 7},
                       {"color", "#FF0000"},
                       {"tracking", false},
                       {"active", false},
                       {"x", 576},
                       {"y", 54},
                       {"w", 144},
                       {"h", 162}},
                      {{"kind", "box"},
                       {"id", 9},
                       {"color", "#0000FF"},
                       {"tracking", false},
                       {"active", true},
                       {"x", 576},
                       {"y", 324},
                       {"w", 96},
                       {"h", 108}}})},
        // No status from the tracker yet: the scene is still drawn.
        {"nostatus.json", "no status yet", json::array({walker})},
        {"missing.json", "camsim unreachable", json::array()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.src);
        std::string dom = chromium("--dump-dom", kPage + "?src=" + c.src);
        EXPECT_EQ(statusLine(dom), c.status);
        EXPECT_EQ(drawn(dom), c.drawn) << dom;
    }
}

// Without ?src the page polls view.cgi next to it: camsim's scene and the
// status frame sent through its event producer.
TEST_F(OverlayPage, PollsCamsimThroughTheWebServer)
{
    dir_.write("still.json",
               R"({"name": "still", "camera": {"height": 4, "pan": 0, "tilt": -12},
                   "objects": [{"name": "post", "class": "human",
                                "path": [{"t": 0, "x": 3, "y": 15}]}]})");
    camsimtest::CamsimRunner cam({"--feeds-scenario", dir_.path() + "/still.json"});
    startWeb(cam.root() + "/run/camsim/transfer");
    std::string quiet = chromium("--dump-dom", kPage);
    EXPECT_EQ(statusLine(quiet), "no status yet");

    // A status frame as the tracking daemon sends it, through the producer.
    int id = camsimtest::declareStreamObjects(cam);
    ASSERT_GT(id, 0);
    std::string frame = R"({"objects":[{"id":4,"x":0.6,"y":0.4,"width":0.1,"height":0.3,)"
                        R"("tracking":true}],"trackerEnabled":false,"trackedId":4,"zoomMag":1})";
    ASSERT_TRUE(camsimtest::sendStreamObjects(cam, id, frame, g_get_real_time()));

    std::string dom = chromium("--dump-dom", kPage);
    EXPECT_EQ(statusLine(dom).rfind("trackerEnabled: false  trackedId: 4  isMoving: false  "
                                    "zoomMag: 1  latestResult: 0  frame age: ",
                                    0),
              0u)
        << dom;
    json d = drawn(dom);
    ASSERT_EQ(d.size(), 2u) << dom;
    EXPECT_EQ(d[0]["kind"], "scene");
    EXPECT_EQ(d[0]["name"], "post");
    EXPECT_EQ(d[1]["kind"], "box");
    EXPECT_EQ(d[1]["tracking"], true);
    EXPECT_EQ(d[1]["x"], 576);
}

} // namespace

namespace
{

// The status frame in camsim's view, when it names a tracked object: that
// object's box centre (picture fractions).
std::optional<std::pair<double, double>> trackedCentre(const json& view)
{
    if (!view["stream"].is_object())
        return std::nullopt;
    json frame = json::parse(view["stream"].value("jsonframe", ""), nullptr, false);
    if (!frame.is_object() || !frame.contains("trackedId") || !frame["objects"].is_array())
        return std::nullopt;
    for (const auto& o : frame["objects"])
        if (o.value("tracking", false))
            return std::make_pair(o.value("x", 0.0) + o.value("width", 0.0) / 2,
                                  o.value("y", 0.0) + o.value("height", 0.0) / 2);
    return std::nullopt;
}

} // namespace

// The real daemon follows the person of person-stops in a temporary zone;
// once she stands centred, the page shows the tracked box around her, near
// the picture's centre.
TEST_F(OverlayPage, ShowsTheTrackedPersonLive)
{
    camsimtest::CamsimRunner cam({"--feeds-scenario", SCENARIOS_DIR "/person-stops.json"});
    const std::string etc = cam.root() + "/etc/quillon";
    std::filesystem::create_directories(etc);
    writeFile(etc + "/application.conf", kActiveConf);
    writeFile(etc + "/settings.conf", R"({ "trackingParams": { "trackerType": 5 } })");
    QuillonServer quillon("", {}, {{"CAMROOT", cam.root()}});
    const std::string api = quillon.url("/local/quillon/operator.cgi");
    // Started by an API call; the viewport reaches the tracker once it runs.
    httpPost(api, R"({"method": "getAutotrackingState", "params": {}})");
    ASSERT_TRUE(waitFor(
        [&] {
            return cam.control({{"cmd", "events-declared"}}).dump().find("AutoTriggers") !=
                   std::string::npos;
        },
        std::chrono::seconds(30)))
        << quillon.process().output();
    httpPost(api, R"({"method": "setViewportConfig", "params": {"rotation": 0}})");
    cam.control({{"cmd", "send-event"},
                 {"topic", "tnszeto:Plinth/tnszeto:Quillon/tnszeto:SetTemporaryZone"},
                 {"data", {{"setTemporaryZone", "fullscreen"}, {"timeout", "600"}}}});
    // Standing, followed and centred (within 5 % in camsim's own record).
    ASSERT_TRUE(waitFor(
        [&] {
            auto centre = trackedCentre(cam.control({{"cmd", "view"}}));
            return centre && std::abs(centre->first - 0.5) < 0.05 &&
                   std::abs(centre->second - 0.5) < 0.05;
        },
        std::chrono::seconds(90)))
        << cam.control({{"cmd", "view"}}).dump() << quillon.process().output();

    startWeb(cam.root() + "/run/camsim/transfer");
    std::string dom = chromium("--dump-dom", kPage);
    json d = drawn(dom);
    ASSERT_TRUE(d.is_array()) << dom;
    json box, person;
    for (const auto& item : d) {
        if (item["kind"] == "box" && item.value("tracking", false))
            box = item;
        if (item["kind"] == "scene" && item["name"] == "stopper")
            person = item;
    }
    ASSERT_TRUE(box.is_object() && person.is_object()) << dom;
    const double px = person["x"].get<double>() + person["w"].get<double>() / 2;
    const double py = person["y"].get<double>() + person["h"].get<double>() / 2;
    EXPECT_TRUE(
        px >= box["x"].get<double>() && px <= box["x"].get<double>() + box["w"].get<double>() &&
        py >= box["y"].get<double>() && py <= box["y"].get<double>() + box["h"].get<double>())
        << dom;
    const double bx = box["x"].get<double>() + box["w"].get<double>() / 2;
    const double by = box["y"].get<double>() + box["h"].get<double>() / 2;
    EXPECT_LT(std::abs(bx - 480.0), 96.0) << dom;
    EXPECT_LT(std::abs(by - 270.0), 54.0) << dom;
}
