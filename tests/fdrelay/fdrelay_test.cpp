// libfdrelay: a request text and one descriptor over a Unix datagram socket.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include <gtest/gtest.h>

#include "fdrelay.h"
#include "support/temp_dir.h"

using namespace testsupport;

namespace
{

class FdRelay : public ::testing::Test
{
protected:
    void SetUp() override
    {
        path_ = dir_.path() + "/run/svc/transfer";
        server_ = fdrelay_server_socket_with_user_group(path_.c_str(), 0660, nullptr, nullptr);
        ASSERT_GE(server_, 0) << strerror(errno);
        client_ = fdrelay_client_socket(1000);
        ASSERT_GE(client_, 0);
    }
    void TearDown() override
    {
        close(server_);
        close(client_);
    }
    // Sends raw bytes with `fds` descriptors attached (no fdrelay).
    void sendRaw(const std::string& text, const int* fds, int count)
    {
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        path_.copy(addr.sun_path, sizeof(addr.sun_path) - 1);
        iovec iov{const_cast<char*>(text.data()), text.size()};
        char control[CMSG_SPACE(4 * sizeof(int))] = {};
        msghdr msg{};
        msg.msg_name = &addr;
        msg.msg_namelen = sizeof(addr);
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        if (count > 0) {
            msg.msg_control = control;
            msg.msg_controllen = CMSG_SPACE(count * sizeof(int));
            cmsghdr* c = CMSG_FIRSTHDR(&msg);
            c->cmsg_level = SOL_SOCKET;
            c->cmsg_type = SCM_RIGHTS;
            c->cmsg_len = CMSG_LEN(count * sizeof(int));
            memcpy(CMSG_DATA(c), fds, count * sizeof(int));
        }
        ASSERT_EQ(sendmsg(client_, &msg, 0), static_cast<ssize_t>(text.size()));
    }

    TempDir dir_{"fdrelay"};
    std::string path_;
    int server_ = -1;
    int client_ = -1;
};

TEST_F(FdRelay, PassesTextAndDescriptor)
{
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const char text[] = "name\0body";
    ASSERT_EQ(fdrelay_send(client_, path_.c_str(), text, sizeof(text) - 1, pipeFds[1]), 0);
    close(pipeFds[1]);

    char buf[64];
    int fd = -1;
    ASSERT_EQ(fdrelay_recv(server_, buf, sizeof(buf), &fd), sizeof(text) - 1);
    EXPECT_EQ(std::string(buf, sizeof(text) - 1), std::string(text, sizeof(text) - 1));
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
    ASSERT_EQ(write(fd, "ok", 2), 2);
    close(fd);
    char got[3] = {};
    EXPECT_EQ(read(pipeFds[0], got, 2), 2);
    EXPECT_STREQ(got, "ok");
    close(pipeFds[0]);
}

TEST_F(FdRelay, LongMessagesAreCutToTheBuffer)
{
    std::string text(100, 'a');
    ASSERT_EQ(fdrelay_send(client_, path_.c_str(), text.data(), text.size(), 0), 0);
    char buf[10];
    int fd = -1;
    EXPECT_EQ(fdrelay_recv(server_, buf, sizeof(buf), &fd), sizeof(buf));
    EXPECT_GE(fd, 0);
    close(fd);
}

TEST_F(FdRelay, RefusesMessagesWithoutExactlyOneDescriptor)
{
    char buf[16];
    int fd = 7;
    EXPECT_EQ(fdrelay_recv(server_, buf, sizeof(buf), &fd), 0u);
    EXPECT_EQ(errno, EAGAIN);
    EXPECT_EQ(fd, -1);

    sendRaw("no descriptor", nullptr, 0);
    EXPECT_EQ(fdrelay_recv(server_, buf, sizeof(buf), &fd), 0u);
    EXPECT_EQ(errno, EBADMSG);

    int a[2], b[2];
    ASSERT_EQ(pipe(a), 0);
    ASSERT_EQ(pipe(b), 0);
    int two[] = {a[1], b[1]};
    sendRaw("two", two, 2);
    close(a[1]);
    close(b[1]);
    EXPECT_EQ(fdrelay_recv(server_, buf, sizeof(buf), &fd), 0u);
    EXPECT_EQ(errno, EBADMSG);
    EXPECT_EQ(fd, -1);
    // Both passed copies were closed: the readers see end of file.
    char c;
    EXPECT_EQ(read(a[0], &c, 1), 0);
    EXPECT_EQ(read(b[0], &c, 1), 0);
    close(a[0]);
    close(b[0]);

    // The socket keeps working.
    ASSERT_EQ(fdrelay_send(client_, path_.c_str(), "x", 1, 0), 0);
    EXPECT_EQ(fdrelay_recv(server_, buf, sizeof(buf), &fd), 1u);
    close(fd);
}

TEST_F(FdRelay, SendReportsAbsentServersAndBadArguments)
{
    std::string missing = dir_.path() + "/nobody";
    EXPECT_EQ(fdrelay_send(client_, missing.c_str(), "x", 1, 0), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(fdrelay_send(client_, path_.c_str(), "", 0, 0), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(fdrelay_send(client_, path_.c_str(), "x", 1, -1), -1);
    std::string longPath(200, 'p');
    EXPECT_EQ(fdrelay_send(client_, longPath.c_str(), "x", 1, 0), -1);
    EXPECT_EQ(errno, ENAMETOOLONG);
}

TEST_F(FdRelay, ServerSocketHasModeOwnerAndGroup)
{
    struct stat st {
    };
    ASSERT_EQ(stat(path_.c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0660u);

    // The path is taken: a second server fails and leaves it alone.
    EXPECT_EQ(fdrelay_server_socket_with_user_group(path_.c_str(), 0600, nullptr, nullptr), -1);
    EXPECT_EQ(errno, EADDRINUSE);

    std::string other = dir_.path() + "/other";
    EXPECT_EQ(
        fdrelay_server_socket_with_user_group(other.c_str(), 0660, "no-such-user-h6", nullptr), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_NE(access(other.c_str(), F_OK), 0);

    if (geteuid() != 0 || getpwnam("www") == nullptr || getgrnam("www") == nullptr)
        GTEST_SKIP() << "needs root and the user/group www";
    int fd = fdrelay_server_socket_with_user_group(other.c_str(), 0640, "www", "www");
    ASSERT_GE(fd, 0);
    ASSERT_EQ(stat(other.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(st.st_uid, getpwnam("www")->pw_uid);
    EXPECT_EQ(st.st_gid, getgrnam("www")->gr_gid);
    close(fd);
}

} // namespace
