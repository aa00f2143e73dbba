// Checks the shared fixtures themselves: a private bus answers and lighttpd
// serves, so failures in other tests point at the code under test; programs
// of the build start through the emulator of a cross build.
#include <elf.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/child_process.h"
#include "support/http_client.h"
#include "support/lighttpd.h"
#include "support/private_bus.h"
#include "support/temp_dir.h"

using namespace testsupport;

TEST(Support, PrivateBusAnswersAsSystemBus)
{
    TempDir dir;
    PrivateBus bus(dir.path());
    ChildProcess call({"/usr/bin/gdbus", "call", "--system", "--dest", "org.freedesktop.DBus",
                       "--object-path", "/org/freedesktop/DBus", "--method",
                       "org.freedesktop.DBus.GetId"});
    EXPECT_EQ(call.waitExit(std::chrono::seconds(10)), 0) << call.output();
}

TEST(Support, LighttpdServesStaticFile)
{
    TempDir dir;
    Lighttpd server(dir.path(), "");
    dir.write("www/hello.txt", "hello");
    HttpReply r = httpGet(server.url("/hello.txt"));
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "hello");
}

// The emulator switch: only programs built for the test's own machine go
// through $PTZ_TEST_EMULATOR; other programs, scripts and missing files start
// as they are, and an empty value turns the emulator off.
TEST(Support, EmulatorRunsOnlyProgramsOfTheTestsOwnMachine)
{
    TempDir dir;
    char self[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    dir.write("script", "#!/bin/sh\nexit 0\n");
    // An ELF header for a machine no build here targets (s390).
    std::string foreign = "\x7f"
                          "ELF";
    foreign.resize(sizeof(Elf32_Ehdr), '\0');
    foreign[18] = static_cast<char>(EM_S390);
    dir.write("foreign", foreign);

    const char* saved = std::getenv("PTZ_TEST_EMULATOR");
    std::string savedValue = saved ? saved : "";
    struct Case {
        const char* emulator;
        std::string program;
        bool emulated;
    } cases[] = {
        {"/opt/emu", self, true},
        {"/opt/emu", dir.file("script"), false},
        {"/opt/emu", dir.file("foreign"), false},
        {"/opt/emu", dir.file("missing"), false},
        {"", self, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program + " with '" + c.emulator + "'");
        setenv("PTZ_TEST_EMULATOR", c.emulator, 1);
        std::vector<std::string> argv = emulatedArgv({c.program, "-x"});
        std::vector<std::string> expected = {c.program, "-x"};
        if (c.emulated)
            expected.insert(expected.begin(), c.emulator);
        EXPECT_EQ(argv, expected);
    }
    if (saved)
        setenv("PTZ_TEST_EMULATOR", savedValue.c_str(), 1);
    else
        unsetenv("PTZ_TEST_EMULATOR");
}
