#include "platform/DisableCoreDumps.h"

#include <gtest/gtest.h>

#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

// In a child of its own, so this test program keeps its settings.
TEST(DisableCoreDumps, ProcessIsNotDumpableAndHasNoCoreSize)
{
    const pid_t pid = fork();
    ASSERT_NE(pid, -1);
    if (pid == 0) {
        rlimit limit = {};
        bool bOff = DisableCoreDumps() && prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) == 0;
        bOff = bOff && getrlimit(RLIMIT_CORE, &limit) == 0 && limit.rlim_cur == 0 && limit.rlim_max == 0;
        _exit(bOff ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}
