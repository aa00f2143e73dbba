// Control requests: malformed input gets an error reply, never an exception.
#include <gtest/gtest.h>

#include "camsim/core/control_surface.h"

using namespace camsim;
using nlohmann::json;

TEST(ControlSurface, DispatchesAndReportsErrors)
{
    ControlSurface c;
    c.add("twice", "doubles x", [](const json& r) { return ControlSurface::number(r, "x") * 2; });
    EXPECT_EQ(json::parse(c.handleLine(R"({"cmd":"twice","x":2.5})")),
              (json{{"ok", true}, {"result", 5.0}}));
    EXPECT_EQ(json::parse(c.handleLine(R"({"cmd":"twice","x":"4"})"))["result"], 8.0);
    for (const char* bad : {"{", "[]", R"({"cmd":3})", R"({"cmd":"nope"})", R"({"cmd":"twice"})",
                            R"({"cmd":"twice","x":"4x"})", R"({"cmd":"twice","x":[1]})",
                            R"({"cmd":"twice","x":1e999})"}) {
        json r = json::parse(c.handleLine(bad));
        EXPECT_FALSE(r["ok"].get<bool>()) << bad;
        EXPECT_TRUE(r["error"].is_string()) << bad;
    }
    EXPECT_TRUE(json::parse(c.handleLine(R"({"cmd":"help"})"))["result"].contains("twice"));
}
