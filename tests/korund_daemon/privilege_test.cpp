// korund after start-up: every user and group id of the process is
// "ptzadm"'s, the supplementary groups are that user's, no capability is
// left, and the transfer socket it created has the mode and owners the web
// server relies on.

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "daemon_fixture.h"

namespace
{

// The numbers after `field` in /proc/PID/status ("Uid:", "Gid:", "Groups:").
std::vector<long> statusNumbers(pid_t pid, const std::string& field)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    std::vector<long> numbers;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) != 0)
            continue;
        std::istringstream values(line.substr(field.size()));
        long value = 0;
        while (values >> value)
            numbers.push_back(value);
    }
    return numbers;
}

std::string statusText(pid_t pid, const std::string& field)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0)
            return line.substr(field.size());
    return {};
}

const std::string kIp = "[korund]\nenabled=true\ninterface=viscaOverIP\n"
                        "serialConfiguration=pointToPoint\nbaudRate=9600\n";

} // namespace

TEST(KorundPrivileges, RunsAsPtzadmWithItsGroupsAndNoCapabilities)
{
    struct passwd* pw = getpwnam("ptzadm");
    struct group* www = getgrnam("www");
    if (geteuid() != 0 || pw == nullptr || www == nullptr)
        GTEST_SKIP() << "needs root, the user ptzadm and the group www";
    uid_t uid = pw->pw_uid;
    gid_t gid = pw->pw_gid;
    int count = 64;
    std::vector<gid_t> groups(count);
    ASSERT_GE(getgrouplist("ptzadm", gid, groups.data(), &count), 0);
    std::set<long> expectedGroups(groups.begin(), groups.begin() + count);
    gid_t wwwGid = www->gr_gid;

    KorundRig rig(kIp);
    pid_t pid = rig.daemon().pid();
    // Real, effective, saved and file-system ids.
    EXPECT_EQ(statusNumbers(pid, "Uid:"), std::vector<long>(4, uid)) << statusText(pid, "Uid:");
    EXPECT_EQ(statusNumbers(pid, "Gid:"), std::vector<long>(4, gid)) << statusText(pid, "Gid:");
    std::vector<long> supplementary = statusNumbers(pid, "Groups:");
    EXPECT_EQ(std::set<long>(supplementary.begin(), supplementary.end()), expectedGroups)
        << "root's groups are dropped, ptzadm's taken";
    EXPECT_EQ(statusText(pid, "CapEff:"), "\t0000000000000000");
    EXPECT_EQ(statusText(pid, "CapPrm:"), "\t0000000000000000");

    struct stat st {
    };
    ASSERT_EQ(stat(rig.transferSocket().c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0660u);
    EXPECT_EQ(st.st_uid, uid);
    EXPECT_EQ(st.st_gid, wwwGid);
}
