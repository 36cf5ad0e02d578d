#include "CProgramRun.h"
#include "CTempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

// The window's program with no display of any kind to open.
class WindowCommandLineTest : public ::testing::Test {
protected:
    WindowCommandLineTest() : m_run(m_dir.Path())
    {
        m_run.Unset("DISPLAY").Unset("WAYLAND_DISPLAY").Unset("QT_QPA_PLATFORM");
    }
    int Run(const std::vector<std::string>& args) { return m_run.Run(CERTPURGE_BINARY, args); }

    testsupport::CTempDir m_dir;
    CProgramRun m_run;
};

}  // namespace

TEST_F(WindowCommandLineTest, HelpAndVersionNeedNoDisplay)
{
    EXPECT_EQ(Run({"--version"}), 0) << m_run.Err();
    EXPECT_EQ(m_run.Out(), "certpurge " CERTPURGE_VERSION "\n");

    EXPECT_EQ(Run({"--help"}), 0) << m_run.Err();
    EXPECT_NE(m_run.Out().find("--module <PATH>"), std::string::npos) << m_run.Out();
    EXPECT_NE(m_run.Out().find("CERTPURGE_MODULE"), std::string::npos);
}

// Usage errors end the program before it looks for a display: status 2.
TEST_F(WindowCommandLineTest, UsageErrorsExitWithTwo)
{
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--bogus"}, {"file"}, {"--module"}, {"--version", "x"}}) {
        SCOPED_TRACE(args.front());
        EXPECT_EQ(Run(args), 2);
        EXPECT_EQ(m_run.Out(), "");
        EXPECT_EQ(m_run.LastErrLine(), "usage: certpurge [--module PATH]");
    }
}

namespace {

// Soft and hard core size limits of a running process, as /proc shows them.
std::string CoreLimits(pid_t pid)
{
    std::ifstream limits("/proc/" + std::to_string(pid) + "/limits");
    for (std::string line; std::getline(limits, line);) {
        if (line.rfind("Max core file size", 0) == 0) {
            std::istringstream fields(line.substr(18));
            std::string soft, hard;
            fields >> soft >> hard;
            return soft + " " + hard;
        }
    }
    return {};
}

}  // namespace

// The PIN passes through the window's memory: a crash must leave it in no
// core file. The window is held up by its message box for a missing module.
TEST_F(WindowCommandLineTest, WindowTurnsCoreDumpsOff)
{
    const pid_t pid = fork();
    ASSERT_NE(pid, -1);
    if (pid == 0) {
        rlimit limit = {RLIM_INFINITY, RLIM_INFINITY};
        getrlimit(RLIMIT_CORE, &limit);
        limit.rlim_cur = limit.rlim_max;  // as a user who allows core files
        setrlimit(RLIMIT_CORE, &limit);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        execl(CERTPURGE_BINARY, "certpurge", "--module", "/nonexistent/module.so", static_cast<char*>(nullptr));
        _exit(127);
    }
    std::string limits = CoreLimits(pid);
    bool bExited = false;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (limits != "0 0" && std::chrono::steady_clock::now() < deadline) {
        if ((bExited = waitpid(pid, &status, WNOHANG) == pid))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        limits = CoreLimits(pid);
    }
    if (!bExited) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    EXPECT_FALSE(bExited) << "the window ended by itself: " << status;
    EXPECT_EQ(limits, "0 0");
}
