#pragma once

#include "CChildProcess.h"
#include "CMarkdownTable.h"
#include "CSamples.h"

#include <ostream>
#include <string>

class CBenchToken;

// The programs as whole processes over one token: certpurge-list against
// pkcs11-tool listing the same certificates through the same SoftHSM2
// copy, and the peak memory of the window program and of certpurge-list.
class CProcessBench {
public:
    static constexpr int kRuns = 20;
    static constexpr int kTargetCount = 10;
    static constexpr double kTargetRatio = 1.5;
    // How long the window is given to start and fill its list.
    static constexpr int kWindowMillis = 2000;

    CProcessBench();

    void Measure(CBenchToken& token);
    void Print(std::ostream& out) const;
    // The program's path by PATH; empty when there is none.
    static std::string FindProgram(const char* name);

private:
    struct SSeries {
        CSamples millis;
        long maxRssKb = 0;
        std::string failure;  // the first wrong run, if any
    };

    void CompareListings(CBenchToken& token);
    static void RunOnce(const std::vector<std::string>& argv, std::size_t expectedLines, const char* marker,
                        SSeries& series);
    void MeasureWindow(CBenchToken& token, const std::string& module, const char* label);
    void AddMemoryRow(const char* program, const char* module, int count, long maxRssKb, const std::string& check);

    CMarkdownTable m_compare;
    CMarkdownTable m_memory;
};
