#include "app/CCertPurgeApp.h"
#include "platform/DisableCoreDumps.h"

#include <cstdio>
#include <cstdlib>

// The application object, the one global of the program.
static CCertPurgeApp theApp;

int main(int argc, char** argv)
{
    // Before anything is loaded or typed: the PIN passes through this memory.
    DisableCoreDumps();
    int status = theApp.Run(argc, argv);
    if (theApp.ThreadLeftBehind()) {
        // Its module may wait on objects that exit() would tear down under it.
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}
