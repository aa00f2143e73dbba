// The tree that `cmake --install` produces, used as a packager and an
// administrator would: files in place, units that systemd accepts, a program
// built against libpavane through pkg-config, and quillon started by socket
// activation with the installed socket unit's settings behind the installed
// web-server snippet.

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/child_process.h"
#include "support/http_client.h"
#include "support/lighttpd.h"
#include "support/temp_dir.h"
#include "support/wait.h"

using namespace testsupport;
using namespace std::chrono;
namespace fs = std::filesystem;

namespace
{

struct RunResult {
    int status = -1;
    std::string output;
    bool ok() const { return status == 0; }
};

RunResult run(const std::vector<std::string>& argv, std::map<std::string, std::string> env = {})
{
    ChildProcess child(argv, std::move(env));
    RunResult result;
    int status = child.waitExit(seconds(120));
    result.output = child.output();
    result.status = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// The value of `key` in a unit or snippet file ("" when absent).
std::string unitValue(const std::string& text, const std::string& key)
{
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
        if (line.rfind(key + "=", 0) == 0)
            return line.substr(key.size() + 1);
    return {};
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// One installation shared by the tests of this file: the packages' files
// plus the platform stand-ins they need to run here.
class InstalledTree : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        dir = new TempDir("install");
        destdir = dir->path() + "/dest";
        for (std::vector<std::string> extra :
             {std::vector<std::string>{}, std::vector<std::string>{"--component", "platform"}}) {
            // As configured: the units, snippets and pavane.pc name these paths.
            std::vector<std::string> argv = {CMAKE_COMMAND_PATH, "--install", BUILD_DIR};
            argv.insert(argv.end(), extra.begin(), extra.end());
            RunResult installed = run(argv, {{"DESTDIR", destdir}});
            installOutput += installed.output;
            installOk = installOk && installed.ok();
        }
    }
    static void TearDownTestSuite()
    {
        delete dir;
        dir = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(installOk) << installOutput; }

    static std::string path(const std::string& installed) { return destdir + installed; }
    static std::string libDir() { return path(LIBDIR); }
    static std::string unitDir() { return path(PREFIX "/lib/systemd/system/"); }

    static TempDir* dir;
    static std::string destdir;
    static std::string installOutput;
    static bool installOk;
};

TempDir* InstalledTree::dir = nullptr;
std::string InstalledTree::destdir;
std::string InstalledTree::installOutput;
bool InstalledTree::installOk = true;

TEST_F(InstalledTree, PutsEveryFileInItsPlace)
{
    for (const std::string installed :
         {SBINDIR "/quillon", SBINDIR "/korund", INCLUDEDIR "/pavane/video_output.h",
          LIBDIR "/pkgconfig/pavane.pc", PREFIX "/lib/systemd/system/quillon.service",
          PREFIX "/lib/systemd/system/quillon.socket", PREFIX "/lib/systemd/system/korund.service",
          PREFIX "/lib/systemd/system/korund.socket", PREFIX "/lib/sysusers.d/ptzcam.conf",
          PREFIX "/lib/tmpfiles.d/ptzcam.conf", DATADIR "/dbus-1/system.d/com.zeto.Quillon.conf",
          DATADIR "/dbus-1/system.d/com.zeto.Korund.conf",
          SYSCONFDIR "/lighttpd/conf-available/20-quillon.conf",
          SYSCONFDIR "/lighttpd/conf-available/30-korund.conf",
          SYSCONFDIR "/lighttpd/conf-available/15-pavane.conf",
          DATADIR "/ptzcam/www/local/korund/viscacontrol.cgi",
          DATADIR "/ptzcam/www/local/pavane/videooutput2.cgi"})
        EXPECT_TRUE(fs::exists(path(installed))) << installed;

    // Versioned library: the link name points at the soname, which points at
    // the file, and the soname recorded in the library is libpavane.so.2.
    EXPECT_EQ(fs::read_symlink(libDir() + "/libpavane.so"), "libpavane.so.2");
    EXPECT_EQ(fs::read_symlink(libDir() + "/libpavane.so.2"), "libpavane.so.2.0.0");
    RunResult dynamic = run({"/usr/bin/objdump", "-p", libDir() + "/libpavane.so.2.0.0"});
    EXPECT_TRUE(std::regex_search(dynamic.output, std::regex("SONAME +libpavane\\.so\\.2\n")))
        << dynamic.output;
    EXPECT_EQ(readFile(path(DATADIR "/ptzcam/www/local/korund/viscacontrol.cgi")),
              "socket /run/korund/transfer\n");
}

TEST_F(InstalledTree, UnitsPassSystemdAnalyzeVerify)
{
    if (!fs::exists("/usr/bin/systemd-analyze"))
        GTEST_SKIP() << "systemd-analyze missing (tools/packages.txt: systemd)";
    // verify checks that ExecStart= names an executable, on this machine:
    // it checks copies whose command points into the DESTDIR. Anything it
    // prints about a unit (an unknown key, a bad value) is a failure.
    std::vector<std::string> argv = {"/usr/bin/systemd-analyze", "verify", "--man=no"};
    fs::create_directories(dir->path() + "/units");
    for (const char* unit :
         {"quillon.socket", "quillon.service", "korund.socket", "korund.service"}) {
        std::string text = readFile(unitDir() + unit);
        std::string exec = unitValue(text, "ExecStart");
        if (!exec.empty()) {
            EXPECT_TRUE(fs::exists(path(exec.substr(0, exec.find(' '))))) << exec;
            text = replaceAll(text, "ExecStart=" + exec, "ExecStart=" + destdir + exec);
        }
        argv.push_back(dir->path() + "/units/" + unit);
        writeFile(argv.back(), text);
    }
    RunResult verify = run(argv, {{"SYSTEMD_LOG_LEVEL", "warning"}});
    EXPECT_TRUE(verify.ok()) << verify.output;
    EXPECT_EQ(verify.output.find("quillon"), std::string::npos) << verify.output;
    EXPECT_EQ(verify.output.find("korund"), std::string::npos) << verify.output;

    std::string service = readFile(unitDir() + "korund.service");
    for (const char* key : {"NoNewPrivileges", "ProtectSystem", "ProtectHome", "PrivateTmp",
                            "RestrictAddressFamilies"})
        EXPECT_FALSE(unitValue(service, key).empty()) << "korund.service: " << key;
    service = readFile(unitDir() + "quillon.service");
    for (const char* key : {"NoNewPrivileges", "ProtectSystem", "ProtectHome", "PrivateTmp",
                            "RestrictAddressFamilies"})
        EXPECT_FALSE(unitValue(service, key).empty()) << "quillon.service: " << key;
}

TEST_F(InstalledTree, PkgConfigBuildsAProgramAgainstLibpavane)
{
    // The staged tree stands in for the prefix. Relocating "prefix" moves the
    // paths of the required packages too, so their flags are added as the
    // system has them (pavane.pc names them in Requires).
    std::map<std::string, std::string> env = {{"PKG_CONFIG_PATH", libDir() + "/pkgconfig"}};
    std::string pkgConfig = "pkg-config --define-variable=prefix=" + path(PREFIX);
    RunResult flags = run({"/bin/sh", "-c", pkgConfig + " --cflags --libs pavane"}, env);
    ASSERT_TRUE(flags.ok()) << flags.output;
    EXPECT_NE(flags.output.find("-I" + path(INCLUDEDIR)), std::string::npos) << flags.output;
    EXPECT_NE(flags.output.find("-lpavane"), std::string::npos) << flags.output;

    std::string source = dir->file("consumer.c");
    writeFile(source, "#include <stdio.h>\n"
                      "#include <string.h>\n"
                      "#include <pavane/video_output.h>\n"
                      "int main(void)\n"
                      "{\n"
                      "    const char* mode = video_output_scan_mode_enum_to_string(1);\n"
                      "    printf(\"scan mode 1: %s\\n\", mode);\n"
                      "    return mode != NULL && strcmp(mode, \"interlaced\") == 0 ? 0 : 1;\n"
                      "}\n");
    std::string program = dir->file("consumer");
    std::string command = std::string(C_COMPILER) + " " + CONSUMER_FLAGS + " -o " + program + " " +
                          source + " $(" + pkgConfig + " --cflags --libs pavane)" +
                          " $(pkg-config --cflags --libs $(pkg-config --print-requires pavane))" +
                          " -Wl,-rpath-link," + libDir();
    RunResult built = run({"/bin/sh", "-c", command}, env);
    ASSERT_TRUE(built.ok()) << command << "\n" << built.output;
    RunResult ran = run({program}, {{"LD_LIBRARY_PATH", libDir()}});
    EXPECT_TRUE(ran.ok()) << ran.output;
    EXPECT_NE(ran.output.find("scan mode 1: interlaced"), std::string::npos) << ran.output;
}

// quillon as the service manager starts it: the listening socket from the
// installed quillon.socket (relocated into the test's directory, mode and
// group as the unit says), the program from quillon.service's ExecStart=,
// reached through the installed lighttpd snippet.
TEST_F(InstalledTree, SocketActivatedQuillonAnswersThroughTheInstalledSnippet)
{
    std::string socketUnit = readFile(unitDir() + "quillon.socket");
    std::string serviceUnit = readFile(unitDir() + "quillon.service");
    std::string listen = unitValue(socketUnit, "ListenStream");
    std::string exec = unitValue(serviceUnit, "ExecStart");
    ASSERT_FALSE(listen.empty());
    ASSERT_EQ(exec, SBINDIR "/quillon");
    EXPECT_EQ(unitValue(socketUnit, "SocketMode"), "0660");
    EXPECT_EQ(unitValue(socketUnit, "SocketGroup"), "www");

    std::string camroot = dir->path() + "/camroot";
    std::string socket = camroot + listen;
    fs::create_directories(fs::path(socket).parent_path());
    fs::create_directories(camroot + "/etc/quillon");
    writeFile(camroot + "/etc/quillon/application.conf",
              R"({ "service": { "active": true, "version": "2.6.39+maint+1" } })");
    ChildProcess quillon({"/usr/bin/systemd-socket-activate", "-l", socket, "-E",
                          "CAMROOT=" + camroot, "-E", "QUILLON_LOG_STDERR=1", "-E",
                          "LD_LIBRARY_PATH=" + libDir(), path(exec)});
    ASSERT_TRUE(waitFor([&] { return fs::exists(socket); })) << quillon.output();
    ASSERT_EQ(chmod(socket.c_str(), std::stoi(unitValue(socketUnit, "SocketMode"), nullptr, 8)), 0);

    std::string snippet = readFile(path(SYSCONFDIR "/lighttpd/conf-available/20-quillon.conf"));
    ASSERT_NE(snippet.find(listen), std::string::npos) << "the snippet names the unit's socket";
    Lighttpd web(dir->path() + "/web", replaceAll(snippet, listen, socket));
    HttpReply reply = httpPost(web.url("/local/quillon/operator.cgi"),
                               R"({"method":"getSupportedVersions","params":{}})");
    EXPECT_EQ(reply.status, 200) << quillon.output();
    EXPECT_NE(reply.body.find(R"("apiVersions")"), std::string::npos)
        << reply.body << quillon.output();
    EXPECT_TRUE(quillon.waitForOutput("Autotracker starting")) << quillon.output();
}

} // namespace
