// libpavane's C API called directly, against the shared library as a
// service links it.
#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "pavane/video_output.h"
#include "support/temp_dir.h"

using namespace testsupport;

namespace
{

// A configurable service table; callbacks report what they were given.
struct Fake {
    static inline int lastPort = -100;
    static inline int lastValue = -100;
    static inline int modes[3] = {0, 1, 0};
    static inline int modeCount = 2;
    static inline VideoOutputServicePort ports[2] = {{3, 1, const_cast<char*>("sdi"), 1},
                                                     {4, 0, const_cast<char*>("hdmi"), 0}};
    static inline int portCount = 2;
    static inline int value = 1;

    static int versions(char*** list, int* count)
    {
        static char* v[] = {const_cast<char*>("1.2")};
        *list = v;
        *count = 1;
        return 0;
    }
    static int enumList(int port, int** list, int* count)
    {
        lastPort = port;
        *list = modes;
        *count = modeCount;
        return 0;
    }
    static int getPorts(VideoOutputServicePort** list, int* count)
    {
        *list = ports;
        *count = portCount;
        return 0;
    }
    static int getValue(int port, int* out)
    {
        lastPort = port;
        *out = value;
        return 0;
    }
    static int setValue(int port, int v)
    {
        lastPort = port;
        lastValue = v;
        return 0;
    }
    static int portOnly(int port)
    {
        lastPort = port;
        return 8;
    }
};

VideoOutputFunctions fullTable()
{
    VideoOutputFunctions t{};
    t.get_supported_versions = Fake::versions;
    t.get_supported_scan_modes = Fake::enumList;
    t.get_supported_sdi_codings = Fake::enumList;
    t.get_ports = Fake::getPorts;
    t.get_sdi_coding = Fake::getValue;
    t.get_scan_mode = Fake::getValue;
    t.set_sdi_coding = Fake::setValue;
    t.set_scan_mode = Fake::setValue;
    t.switch_scan_mode = Fake::portOnly;
    return t;
}

class PavaneApi : public ::testing::Test
{
protected:
    void SetUp() override
    {
        setenv("CAMROOT", dir_.path().c_str(), 1);
        Fake::modeCount = 2;
        Fake::portCount = 2;
        Fake::value = 1;
        Fake::ports[1].type = 0;
    }
    void TearDown() override
    {
        video_output_api_free();
        unsetenv("CAMROOT");
    }
    std::string socketPath() const { return dir_.path() + "/run/pavane/transfer"; }

    TempDir dir_{"pavane-api"};
    VideoOutputFunctions table_ = fullTable();
};

TEST(PavaneTables, ConversionsFollowTheTables)
{
    EXPECT_STREQ(video_output_port_enum_to_string(0), "HDMI");
    EXPECT_STREQ(video_output_port_enum_to_string(1), "SDI");
    EXPECT_STREQ(video_output_scan_mode_enum_to_string(0), "progressive");
    EXPECT_STREQ(video_output_scan_mode_enum_to_string(1), "interlaced");
    EXPECT_STREQ(video_output_sdi_coding_enum_to_string(0), "level-A");
    EXPECT_STREQ(video_output_sdi_coding_enum_to_string(1), "level-B");
    for (int bad : {-1, 2, 1000}) {
        EXPECT_EQ(video_output_port_enum_to_string(bad), nullptr);
        EXPECT_EQ(video_output_scan_mode_enum_to_string(bad), nullptr);
        EXPECT_EQ(video_output_sdi_coding_enum_to_string(bad), nullptr);
    }
    EXPECT_EQ(video_output_port_string_to_enum("SDI"), 1);
    EXPECT_EQ(video_output_scan_mode_string_to_enum("interlaced"), 1);
    EXPECT_EQ(video_output_sdi_coding_string_to_enum("level-A"), 0);
    for (const char* bad : {(const char*)nullptr, "", "sdi", "HDMI ", "level-a", "Interlaced"}) {
        EXPECT_EQ(video_output_port_string_to_enum(bad), 2);
        EXPECT_EQ(video_output_scan_mode_string_to_enum(bad), 2);
        EXPECT_EQ(video_output_sdi_coding_string_to_enum(bad), 2);
    }
    EXPECT_EQ(port_types[2], nullptr);
    EXPECT_EQ(scan_modes[2], nullptr);
    EXPECT_EQ(sdi_codings[2], nullptr);
}

TEST(PavaneTables, ErrorsMapToCodesWithInternalAsFallback)
{
    const int codes[] = {1100, 1100, 2100, 2101, 2102, 2103, 2104, 2105, 2201, 2202};
    for (int e = 0; e < 10; ++e)
        EXPECT_EQ(video_output_error_enum_to_code(e), codes[e]) << e;
    for (int e : {-1, 10, 12, 1 << 30}) {
        EXPECT_EQ(video_output_error_enum_to_code(e), 1100);
        EXPECT_STREQ(video_output_error_enum_to_string(e), "Internal error");
    }
    EXPECT_STREQ(video_output_error_enum_to_string(5), "Required parameter missing");
    EXPECT_STREQ(video_output_error_enum_to_string(9), "Individual output control not supported");
    EXPECT_EQ(video_output_errors[0].code, 0);
    EXPECT_STREQ(video_output_errors[0].message, "Success");
}

TEST(PavaneTables, MethodTableHasFifteenMethodsInOrder)
{
    const char* names[] = {"getSupportedVersions",   "getSupportedMethods", "getSupportedScanModes",
                           "getSupportedSDICodings", "getOutputs",          "getEnabledOutputs",
                           "getSDICoding",           "getScanMode",         "setOutputEnabled",
                           "setOutputDisabled",      "setSDICoding",        "setScanMode",
                           "switchEnabledOutput",    "switchSDICoding",     "switchScanMode"};
    for (int i = 0; i < 15; ++i) {
        EXPECT_STREQ(json_methods[i].name, names[i]);
        EXPECT_EQ(json_methods[i].fixed, i == 0 || i == 1 || i == 4) << names[i];
    }
    EXPECT_EQ(json_methods[15].name, nullptr);
}

TEST_F(PavaneApi, InitRefusesTablesWithoutMandatoryCallbacks)
{
    VideoOutputFunctions noVersions = table_;
    noVersions.get_supported_versions = nullptr;
    VideoOutputFunctions noPorts = table_;
    noPorts.get_ports = nullptr;
    EXPECT_EQ(video_output_api_init(nullptr), 1);
    EXPECT_EQ(video_output_api_init(&noVersions), 1);
    EXPECT_EQ(video_output_api_init(&noPorts), 1);
    EXPECT_EQ(functions, nullptr);
    EXPECT_EQ(transfer_socket, nullptr);
}

TEST_F(PavaneApi, InitEnablesMethodsOfPresentCallbacksAndCreatesTheSocket)
{
    ASSERT_EQ(video_output_api_init(&table_), 0);
    EXPECT_EQ(functions, &table_);
    ASSERT_NE(transfer_socket, nullptr);

    const char** methods = nullptr;
    int count = -1;
    ASSERT_EQ(video_output_get_supported_methods(&methods, &count), 0);
    std::set<std::string> names(methods, methods + count);
    g_free(methods);
    EXPECT_EQ(names, (std::set<std::string>{"getSupportedVersions", "getSupportedMethods",
                                            "getSupportedScanModes", "getSupportedSDICodings",
                                            "getOutputs", "getSDICoding", "getScanMode",
                                            "setSDICoding", "setScanMode", "switchScanMode"}));

    // A second init with a smaller table drops the methods of the first.
    VideoOutputFunctions smaller{};
    smaller.get_supported_versions = Fake::versions;
    smaller.get_ports = Fake::getPorts;
    ASSERT_EQ(video_output_api_init(&smaller), 0);
    ASSERT_EQ(video_output_get_supported_methods(&methods, &count), 0);
    EXPECT_EQ(count, 3);
    g_free(methods);

    struct stat st {
    };
    ASSERT_EQ(stat(socketPath().c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0660u);
    if (geteuid() == 0) {
        struct passwd* pw = getpwnam("pavanectl");
        struct group* gr = getgrnam("www");
        ASSERT_NE(pw, nullptr);
        ASSERT_NE(gr, nullptr);
        EXPECT_EQ(st.st_uid, pw->pw_uid);
        EXPECT_EQ(st.st_gid, gr->gr_gid);
    }
}

TEST_F(PavaneApi, OperationsWithoutCallbackAreNotSupported)
{
    VideoOutputFunctions minimal{};
    minimal.get_supported_versions = Fake::versions;
    minimal.get_ports = Fake::getPorts;
    ASSERT_EQ(video_output_api_init(&minimal), 0);
    int* ids = nullptr;
    int count = 0;
    const char** strings = nullptr;
    const char* text = nullptr;
    EXPECT_EQ(video_output_get_enabled_ports(&ids, &count), 4);
    EXPECT_EQ(video_output_get_supported_scan_modes(0, &strings, &count), 4);
    EXPECT_EQ(video_output_get_supported_sdi_codings(0, &strings, &count), 4);
    EXPECT_EQ(video_output_get_scan_mode(0, &text), 4);
    EXPECT_EQ(video_output_get_sdi_coding(0, &text), 4);
    EXPECT_EQ(video_output_set_scan_mode(0, "interlaced"), 4);
    EXPECT_EQ(video_output_set_sdi_coding(0, "level-A"), 4);
    EXPECT_EQ(video_output_set_port_enabled(0), 4);
    EXPECT_EQ(video_output_set_port_disabled(0), 4);
    EXPECT_EQ(video_output_switch_enabled_port(), 4);
    EXPECT_EQ(video_output_switch_sdi_coding(0), 4);
    EXPECT_EQ(video_output_switch_scan_mode(0), 4);
}

TEST_F(PavaneApi, EnumListsBecomeArraysForTheCaller)
{
    ASSERT_EQ(video_output_api_init(&table_), 0);
    const char** modes = nullptr;
    int count = 0;
    ASSERT_EQ(video_output_get_supported_scan_modes(5, &modes, &count), 0);
    EXPECT_EQ(Fake::lastPort, 5);
    ASSERT_EQ(count, 2);
    EXPECT_STREQ(modes[0], "progressive");
    EXPECT_STREQ(modes[1], "interlaced");
    g_free(modes);
    ASSERT_EQ(video_output_get_supported_sdi_codings(-1, &modes, &count), 0);
    EXPECT_EQ(Fake::lastPort, -1);
    EXPECT_STREQ(modes[1], "level-B");
    g_free(modes);

    // A value without a string: internal error, nothing handed out (and,
    // under the sanitizer, nothing leaked).
    Fake::modes[1] = 7;
    modes = nullptr;
    EXPECT_EQ(video_output_get_supported_scan_modes(0, &modes, &count), 1);
    EXPECT_EQ(video_output_get_supported_sdi_codings(0, &modes, &count), 1);
    EXPECT_EQ(modes, nullptr);
    Fake::modes[1] = 1;

    Fake::modeCount = 0;
    ASSERT_EQ(video_output_get_supported_scan_modes(0, &modes, &count), 0);
    EXPECT_EQ(count, 0);
    g_free(modes);
}

TEST_F(PavaneApi, PortsAreCopiedWithTypeStrings)
{
    ASSERT_EQ(video_output_api_init(&table_), 0);
    VideoOutputPort* ports = nullptr;
    int count = 0;
    ASSERT_EQ(video_output_get_ports(&ports, &count), 0);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(ports[0].id, 3);
    EXPECT_STREQ(ports[0].type, "SDI");
    EXPECT_STREQ(ports[0].name, "sdi");
    EXPECT_EQ(ports[0].enabled, 1);
    EXPECT_STREQ(ports[1].type, "HDMI");
    EXPECT_NE(static_cast<void*>(ports), static_cast<void*>(Fake::ports));
    g_free(ports);

    Fake::ports[1].type = 2;
    ports = nullptr;
    EXPECT_EQ(video_output_get_ports(&ports, &count), 1);
    EXPECT_EQ(ports, nullptr);
}

TEST_F(PavaneApi, ValuesAreConvertedBothWays)
{
    ASSERT_EQ(video_output_api_init(&table_), 0);
    const char* text = nullptr;
    ASSERT_EQ(video_output_get_scan_mode(1, &text), 0);
    EXPECT_STREQ(text, "interlaced");
    Fake::value = 0;
    ASSERT_EQ(video_output_get_sdi_coding(1, &text), 0);
    EXPECT_STREQ(text, "level-A");
    Fake::value = 9;
    EXPECT_EQ(video_output_get_scan_mode(1, &text), 1);
    EXPECT_EQ(video_output_get_sdi_coding(1, &text), 1);

    EXPECT_EQ(video_output_set_scan_mode(2, "interlaced"), 0);
    EXPECT_EQ(Fake::lastPort, 2);
    EXPECT_EQ(Fake::lastValue, 1);
    EXPECT_EQ(video_output_set_sdi_coding(3, "level-A"), 0);
    EXPECT_EQ(Fake::lastValue, 0);
    EXPECT_EQ(video_output_set_scan_mode(2, "sideways"), 0);
    EXPECT_EQ(Fake::lastValue, 2);
    EXPECT_EQ(video_output_set_scan_mode(2, nullptr), 0);
    EXPECT_EQ(Fake::lastValue, 2);
    // Callback results pass through unchanged.
    EXPECT_EQ(video_output_switch_scan_mode(6), 8);
    EXPECT_EQ(Fake::lastPort, 6);
}

TEST_F(PavaneApi, StaleSocketThatCannotBeRemovedFailsInit)
{
    // A non-empty directory where the socket should be.
    dir_.write("run/pavane/transfer/keep", "x");
    EXPECT_EQ(video_output_api_init(&table_), 1);
    EXPECT_EQ(transfer_socket, nullptr);
}

// Binds a datagram socket to `path` and returns it.
int boundSocket(const std::string& path)
{
    int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    path.copy(addr.sun_path, sizeof(addr.sun_path) - 1);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0)
        return -1;
    return fd;
}

// Runs video_output_cgi_init in a child that was passed `sockets` sockets on
// the transfer path (as the service manager passes them) and returns its
// result, or 100 + the fd used when it took one.
int initWithPassedSockets(const std::string& path, int sockets)
{
    pid_t pid = fork();
    if (pid == 0) {
        for (int i = 0; i < sockets; ++i) {
            int fd = boundSocket(path);
            unlink(path.c_str()); // the next one binds the same name
            if (fd < 0 || dup2(fd, 3 + i) < 0)
                _exit(90);
        }
        setenv("LISTEN_FDS", std::to_string(sockets).c_str(), 1);
        setenv("LISTEN_PID", std::to_string(getpid()).c_str(), 1);
        int result = video_output_cgi_init();
        if (result == 0)
            _exit(access(path.c_str(), F_OK) == 0
                      ? 99
                      : 100 + g_io_channel_unix_get_fd(transfer_socket));
        _exit(result);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(PavaneApi, PassedSocketIsUsedAndTwoAreRefused)
{
    dir_.write("run/pavane/.keep", "");
    EXPECT_EQ(initWithPassedSockets(socketPath(), 1), 103);
    EXPECT_EQ(initWithPassedSockets(socketPath(), 2), 1);
}

TEST(PavaneVisibility, OnlyTheDocumentedSymbolsAreExported)
{
    std::string cmd = std::string("nm -D --defined-only '") + PAVANE_LIBRARY + "'";
    FILE* nm = popen(cmd.c_str(), "r");
    ASSERT_NE(nm, nullptr);
    std::set<std::string> exported;
    char line[512];
    while (fgets(line, sizeof(line), nm) != nullptr) {
        char name[400];
        char type;
        if (sscanf(line, "%*s %c %399s", &type, name) != 2)
            continue;
        // Names with a leading underscore belong to the toolchain (linker,
        // sanitizer instrumentation).
        if (name[0] != '_')
            exported.insert(name);
    }
    ASSERT_EQ(pclose(nm), 0);
    std::set<std::string> documented = {"port_types",
                                        "scan_modes",
                                        "sdi_codings",
                                        "video_output_errors",
                                        "json_methods",
                                        "functions",
                                        "transfer_socket",
                                        "video_output_error_enum_to_code",
                                        "video_output_error_enum_to_string",
                                        "video_output_port_enum_to_string",
                                        "video_output_scan_mode_enum_to_string",
                                        "video_output_sdi_coding_enum_to_string",
                                        "video_output_port_string_to_enum",
                                        "video_output_scan_mode_string_to_enum",
                                        "video_output_sdi_coding_string_to_enum",
                                        "video_output_api_init",
                                        "video_output_api_free",
                                        "video_output_cgi_init",
                                        "video_output_cgi_free",
                                        "video_output_get_supported_versions",
                                        "video_output_get_supported_scan_modes",
                                        "video_output_get_supported_sdi_codings",
                                        "video_output_get_ports",
                                        "video_output_get_enabled_ports",
                                        "video_output_get_sdi_coding",
                                        "video_output_get_scan_mode",
                                        "video_output_set_port_enabled",
                                        "video_output_set_port_disabled",
                                        "video_output_set_sdi_coding",
                                        "video_output_set_scan_mode",
                                        "video_output_switch_enabled_port",
                                        "video_output_switch_sdi_coding",
                                        "video_output_switch_scan_mode",
                                        "video_output_get_supported_methods"};
    EXPECT_EQ(exported, documented);
}

} // namespace
