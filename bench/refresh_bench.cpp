// refresh_bench: what one refresh of the certificate list costs, and the
// programs' wall time and peak memory as whole processes. Prints Markdown.
// With --large, only the token of a thousand certificates.

#include "CRefreshBench.h"

#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>

int main(int argc, char** argv)
{
    // Headless, here and in the programs started from here.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    try {
        if (CRefreshBench::IsProbe(argc, argv))
            return CRefreshBench::RunProbe(argv);
        // --large: the token of many certificates alone.
        const bool bLargeOnly = argc == 2 && std::string(argv[1]) == "--large";
        CRefreshBench bench;
        bench.Run(bLargeOnly);
        bench.Print(std::cout);
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "refresh_bench: " << e.what() << '\n';
        return 1;
    }
}
