#pragma once

#include <string>
#include <vector>

extern "C" {
#include "visca_actions.h"
}

// A camera behind the action table: records moves, answers reads from a
// small property map, and can be told to fail every call.
struct FakeCamera {
    std::vector<std::string> calls;
    bool fail = false;
    std::string mac = "00:40:8c:12:34:56";
    std::string version = "11.2.3";

    static FakeCamera& instance();
    // Installs the fake table (and clears the record); uninstall() restores D-Bus.
    void install();
    static void uninstall();
};
