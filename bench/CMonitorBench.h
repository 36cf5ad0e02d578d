#pragma once

#include "CBenchToken.h"
#include "CMarkdownTable.h"
#include "CModuleLink.h"

#include <ostream>
#include <random>
#include <set>
#include <string>
#include <sys/types.h>

class CBenchDialog;

// The presence monitor with the window running over the token simulator:
// the time from a simulated insertion to the filled list, and the CPU the
// monitor uses while nothing happens. Needs a QApplication.
class CMonitorBench {
public:
    static constexpr int kCertificates = 10;
    static constexpr int kInsertions = 20;
    static constexpr double kTargetLatencyMs = 400;
    static constexpr int kIdleSeconds = 10;
    static constexpr double kTargetIdlePercent = 0.1;
    static constexpr int kTimeoutMs = 5000;
    static constexpr int kStormSeconds = 10;
    static constexpr double kTargetStormPercent = 10;
    // A module without slot events, whose tokens the monitor compares.
    static constexpr double kTargetComparingIdlePercent = 0.5;

    CMonitorBench();

    void Run();
    void Print(std::ostream& out) const;

private:
    // The monitor's path through the module: slot events, or comparing.
    struct SPath {
        CMarkdownTable latency;
        CMarkdownTable idle;
        double targetIdlePercent;
        const char* pollCall;  // the call each poll makes first
    };

    void MeasureInsertions(CBenchDialog& dialog, SPath& path);
    // Milliseconds from the insertion to the filled list; negative on time-out.
    double OneInsertion(CBenchDialog& dialog, std::mt19937& random);
    void MeasureIdle(CBenchDialog& dialog, SPath& path);
    // A module that reports an event on every poll, with the window running.
    void MeasureEventStorm(CBenchDialog& dialog);
    // Restarts the monitor and tells which threads it brought.
    static std::set<pid_t> RestartMonitor(CBenchDialog& dialog);
    static CMarkdownTable LatencyTable(const std::string& path);
    static CMarkdownTable IdleTable(const std::string& path);
    static void AddIdleRow(SPath& path, const std::string& what, long long cpuNs, long long wallNs);

    CBenchToken m_token;
    CModuleLink m_link;
    SPath m_events;
    SPath m_comparing;
    CMarkdownTable m_storm;
};
