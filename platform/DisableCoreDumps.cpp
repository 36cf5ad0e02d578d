#include "platform/DisableCoreDumps.h"

#include <sys/prctl.h>
#include <sys/resource.h>

bool DisableCoreDumps()
{
    // Non-dumpable also keeps other processes of the user from reading the
    // memory through ptrace or /proc.
    const bool bNotDumpable = prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0;
    const rlimit none = {0, 0};
    const bool bNoCore = setrlimit(RLIMIT_CORE, &none) == 0;
    return bNotDumpable && bNoCore;
}
