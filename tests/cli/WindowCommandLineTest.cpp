#include "CBackgroundProgram.h"
#include "CProgramRun.h"
#include "CSimulatedToken.h"
#include "CTempDir.h"
#include "WaitUntil.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
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
         std::vector<std::vector<std::string>>{{"--bogus"}, {"file"}, {"--module"}, {"--version", "x"},
                                               {"--token", "Ulda"}, {"--token=pkcs11:object=cert"}}) {
        SCOPED_TRACE(args.front());
        EXPECT_EQ(Run(args), 2);
        EXPECT_EQ(m_run.Out(), "");
        EXPECT_EQ(m_run.LastErrLine(), "usage: certpurge [--module PATH] [--token URI] [--verbose]");
    }
    m_run.Set("CERTPURGE_TOKEN", "pkcs11:slot-id=3");
    EXPECT_EQ(Run({}), 2);
    EXPECT_EQ(m_run.Err().rfind("certpurge: CERTPURGE_TOKEN: ", 0), 0u) << m_run.Err();
}

namespace {

// The _NET_WM_NAME of the program's top-level window that has one.
std::string WindowTitle(const std::string& display, CProgramRun& run)
{
    run.Run("/usr/bin/xwininfo", {"-display", display, "-root", "-children"});
    std::istringstream windows(run.Out());
    for (std::string line; std::getline(windows, line);) {
        if (line.find("(\"certpurge\" \"certpurge\")") == std::string::npos)
            continue;
        std::istringstream fields(line);
        std::string id;
        fields >> id;
        run.Run("/usr/bin/xprop", {"-display", display, "-id", id, "_NET_WM_NAME"});
        const std::string name = run.Out();
        const std::size_t open = name.find(" = \"");
        if (open != std::string::npos && name.size() > open + 5)
            return name.substr(open + 4, name.rfind('"') - open - 4);
    }
    return {};
}

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
    // As a user who allows core files; the window inherits it.
    rlimit limit = {};
    ASSERT_EQ(getrlimit(RLIMIT_CORE, &limit), 0);
    const rlimit allowed = {limit.rlim_max, limit.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_CORE, &allowed), 0);
    CBackgroundProgram window(CERTPURGE_BINARY, {"--module", "/nonexistent/module.so"},
                              {{"QT_QPA_PLATFORM", "offscreen"}}, m_dir.File("window.out"));
    setrlimit(RLIMIT_CORE, &limit);

    std::string limits;
    EXPECT_TRUE(testsupport::WaitUntil([&] { return (limits = CoreLimits(window.Pid())) == "0 0" || !window.Running(); }));
    EXPECT_EQ(limits, "0 0");
    EXPECT_TRUE(window.Running()) << CProgramRun::ReadFile(m_dir.File("window.out"));
}

// The title names the token the list shows, read from the window system:
// the window under Xvfb, on a display Xvfb picks.
TEST_F(WindowCommandLineTest, TitleNamesTheTokenShown)
{
    if (!std::filesystem::exists("/usr/bin/Xvfb") || !std::filesystem::exists("/usr/bin/xprop"))
        GTEST_SKIP() << "Xvfb or xprop is missing";
    m_run.Set("LC_ALL", "C.UTF-8");  // xprop writes the title as it is
    testsupport::CSimulatedToken sim;
    // Each xwininfo and xprop is a client of its own: a server that resets
    // when its last client leaves would drop one connecting meanwhile, the
    // window too. The display number comes alone on standard output.
    CBackgroundProgram xvfb("/usr/bin/Xvfb",
                            {"-displayfd", "1", "-noreset", "-screen", "0", "640x480x24", "-nolisten", "tcp"}, {},
                            m_dir.File("xvfb.display"), m_dir.File("xvfb.err"));
    std::string display;
    testsupport::WaitUntil([&] {
        display = CProgramRun::ReadFile(m_dir.File("xvfb.display"));
        return display.ends_with('\n') || !xvfb.Running();
    });
    ASSERT_TRUE(display.ends_with('\n')) << CProgramRun::ReadFile(m_dir.File("xvfb.err"));
    display = ":" + display.substr(0, display.find('\n'));

    CBackgroundProgram window(CERTPURGE_BINARY, {"--module", testsupport::CSimulatedToken::ModulePath()},
                              {{"DISPLAY", display}, {"QT_QPA_PLATFORM", ""}}, m_dir.File("window.out"));
    // Waits for the title wanted; gives up at once, with what the window
    // said, should the window end.
    auto titled = [&](const std::function<bool(const std::string&)>& wanted) -> testing::AssertionResult {
        std::string title;
        bool bWanted = false;
        testsupport::WaitUntil(
            [&] { return (bWanted = wanted(title = WindowTitle(display, m_run))) || !window.Running(); },
            std::chrono::seconds(20), [] { std::this_thread::sleep_for(std::chrono::milliseconds(50)); });
        if (bWanted)
            return testing::AssertionSuccess();
        return testing::AssertionFailure() << (window.Running() ? "the title is \"" + title + "\"" : "the window ended")
                                           << "; its output:\n" << CProgramRun::ReadFile(m_dir.File("window.out"));
    };
    ASSERT_TRUE(titled([](const std::string& title) {
        return title.rfind("certpurge-test (", 0) == 0 && title.ends_with(") \u2014 certpurge");
    }));

    sim.Control().Remove(sim.Slot());
    EXPECT_TRUE(titled([](const std::string& title) { return title == "certpurge"; }));
}

// SIGTERM ends the window whatever its monitor is doing, as its default
// action would, but first lets the module go as closing the window does,
// unless the monitor's thread is inside it.
TEST_F(WindowCommandLineTest, SigtermEndsTheWindowAndLetsTheModuleGo)
{
    testsupport::CSimulatedToken sim;
    struct SCase {
        const char* pszMonitor;
        ETokenSimMode eMode;
        const char* pszFault;  // ends the monitor
        std::function<bool()> reached;
        bool bLetGo;
    };
    const std::string output = m_dir.File("window.out");
    const SCase cases[] = {
        {"running", ETokenSimMode::Normal, nullptr, [&] { return sim.Trace().Count("C_WaitForSlotEvent") >= 1; },
         true},
        {"ended", ETokenSimMode::Normal, "C_WaitForSlotEvent:*:CKR_DEVICE_ERROR",
         [&] { return CProgramRun::ReadFile(output).find("no longer follows the token") != std::string::npos; }, true},
        {"held in the module", ETokenSimMode::BlockingWait, nullptr,
         [&] { return sim.Trace().CountBlocking("C_WaitForSlotEvent") >= 1; }, false},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(std::string("monitor ") + c.pszMonitor);
        sim.Control().ClearFaults();
        if (c.pszFault != nullptr)
            sim.Control().AddFault(c.pszFault);
        sim.Control().SetMode(c.eMode);
        sim.Trace().Truncate();
        CBackgroundProgram window(CERTPURGE_BINARY, {"--module", testsupport::CSimulatedToken::ModulePath()},
                                  {{"QT_QPA_PLATFORM", "offscreen"}}, output);
        ASSERT_TRUE(testsupport::WaitUntil([&] { return c.reached() || !window.Running(); }));
        ASSERT_TRUE(window.Running()) << CProgramRun::ReadFile(output);
        sim.Trace().Truncate();

        ASSERT_EQ(kill(window.Pid(), SIGTERM), 0);
        ASSERT_TRUE(testsupport::WaitUntil([&] { return !window.Running(); }));
        EXPECT_TRUE(WIFSIGNALED(window.Status()) && WTERMSIG(window.Status()) == SIGTERM) << window.Status();
        EXPECT_EQ(sim.Trace().Count("C_Finalize") >= 1, c.bLetGo);
    }
}
