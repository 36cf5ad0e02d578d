#pragma once

#include "CSamples.h"

#include <ostream>
#include <string>
#include <utility>
#include <vector>

class CBenchDialog;

// The in-process side of the refresh benchmark. It runs in a child process
// so that "qemva_11.dll" beside the program is whichever module the parent
// linked there: the real dialog with its monitor stopped, one refresh under
// the simulator's trace, then timed refreshes. Its findings go to standard
// output, one a line, and the parent reads them back with Parse.
class CRefreshProbe {
public:
    struct SResult {
        std::vector<std::pair<std::string, std::string>> calls;  // function, rv
        CSamples millis;
        int rows = -1;
        std::vector<std::string> prompts;
    };

    CRefreshProbe(bool countCalls, int refreshes) : m_bCountCalls(countCalls), m_nRefreshes(refreshes) {}

    void Run(std::ostream& out) const;
    static SResult Parse(const std::string& output);

private:
    void CountCalls(CBenchDialog& dialog, std::ostream& out) const;
    void TimeRefreshes(CBenchDialog& dialog, std::ostream& out) const;

    bool m_bCountCalls;
    int m_nRefreshes;
};
