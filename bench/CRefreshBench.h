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
// SoftHSM2, and the programs as whole processes (CProcessBench). Then a
// token of 1,000 certificates, straight on SoftHSM2: certpurge-list and a
// refresh of the window each list and judge them all in under a second.
class CRefreshBench {
public:
    static constexpr int kCounts[] = {1, 5, 10};
    static constexpr int kRefreshes = 50;
    static constexpr int kLargeCount = 1000;
    static constexpr int kLargeRuns = 5;
    static constexpr double kLargeTargetMs = 1000;

    CRefreshBench();

    // Every token, or only the large one.
    void Run(bool bLargeOnly = false);
    void Print(std::ostream& out) const;

    // The child's side: `--probe calls|nocalls`.
    static bool IsProbe(int argc, char** argv);
    static int RunProbe(char** argv);

private:
    void MeasureToken(CBenchToken& token);
    void MeasureLargeToken();
    CRefreshProbe::SResult Probe(const std::string& module, bool countCalls, int count, int refreshes = kRefreshes);
    void ReportCalls(int count, const CRefreshProbe::SResult& result);
    void ReportTimes(int count, const char* module, const CRefreshProbe::SResult& result);
    void ReportLarge(const char* what, const CSamples& millis, int listed, const std::string& failure,
                     bool bTargeted = true);

    CMarkdownTable m_calls;
    CMarkdownTable m_times;
    CMarkdownTable m_large;
    bool m_bLargeOnly = false;
    CProcessBench m_process;
};
