// libzolog: GLib log calls routed to standard output, info and debug only
// when enabled.
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "zolog.h"

namespace
{

// Runs `body` in a child whose standard output is captured.
template <typename F> std::string captureStdout(F body)
{
    int fds[2];
    if (pipe(fds) != 0)
        return "<pipe failed>";
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        body();
        fflush(stdout);
        _exit(0);
    }
    close(fds[1]);
    std::string out;
    char buf[512];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof(buf))) > 0)
        out.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    return out;
}

TEST(ZoLog, StdoutSinkWritesOneLinePerMessage)
{
    std::string out = captureStdout([] {
        zo_log_stdout();
        g_log("dom", G_LOG_LEVEL_MESSAGE, "%sstarting %d", "", 1);
        g_log("dom", G_LOG_LEVEL_INFO, "hidden info");
        g_log("dom", G_LOG_LEVEL_DEBUG, "hidden debug");
        g_log("dom", static_cast<GLogLevelFlags>(ZO_LOG_LEVEL_ERROR), "platform error");
        zo_log_set_debug(TRUE);
        g_log("dom", G_LOG_LEVEL_INFO, "shown info");
        g_log(nullptr, G_LOG_LEVEL_DEBUG, "shown debug");
    });
    EXPECT_EQ(out, "dom-message: starting 1\n"
                   "dom-error: platform error\n"
                   "dom-info: shown info\n"
                   "debug: shown debug\n");
}

TEST(ZoLog, SyslogSinkEchoesWhenAsked)
{
    std::string out = captureStdout([] {
        setenv("ZOLOG_ECHO", "1", 1);
        dup2(1, 2); // the echo goes to standard error
        zo_log_syslog("zolog-test");
        g_log("dom", G_LOG_LEVEL_WARNING, "to syslog");
        zo_log_stdout();
        g_log("dom", G_LOG_LEVEL_WARNING, "to stdout");
    });
    EXPECT_EQ(out, "dom-warning: to syslog\ndom-warning: to stdout\n");
}

} // namespace
