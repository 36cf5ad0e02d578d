#pragma once

#include "CMarkdownTable.h"
#include "CProcessBench.h"
#include "CRefreshProbe.h"

#include <ostream>
#include <string>

class CBenchToken;

// The cost of one refresh of the list, for tokens of 1, 5 and 10
// certificates: the module calls it makes (simulator trace), its wall time
// in the window's process with the simulator in front and straight on
// SoftHSM2, and the programs as whole processes (CProcessBench).
class CRefreshBench {
public:
    static constexpr int kCounts[] = {1, 5, 10};
    static constexpr int kRefreshes = 50;

    CRefreshBench();

    void Run();
    void Print(std::ostream& out) const;

    // The child's side: `--probe calls|nocalls`.
    static bool IsProbe(int argc, char** argv);
    static int RunProbe(char** argv);

private:
    void MeasureToken(CBenchToken& token);
    CRefreshProbe::SResult Probe(const std::string& module, bool countCalls, int count);
    void ReportCalls(int count, const CRefreshProbe::SResult& result);
    void ReportTimes(int count, const char* module, const CRefreshProbe::SResult& result);

    CMarkdownTable m_calls;
    CMarkdownTable m_times;
    CProcessBench m_process;
};
