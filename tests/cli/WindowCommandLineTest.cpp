#include "CProgramRun.h"
#include "CTempDir.h"

#include <gtest/gtest.h>

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
