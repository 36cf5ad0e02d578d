#include "CMonitorBench.h"

#include "CBenchDialog.h"
#include "CSamples.h"
#include "CThreadCpu.h"
#include "platform/CLibrary.h"

#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <iostream>
#include <map>
#include <stdexcept>

namespace {

using Clock = std::chrono::steady_clock;

long long NsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
}

}  // namespace

CMonitorBench::CMonitorBench()
    : m_token(kCertificates),
      m_link(CLibrary::ExecutableFolder(), CBenchToken::SimulatorModule()),
      m_events{LatencyTable(""), IdleTable(""), kTargetIdlePercent, "C_WaitForSlotEvent"},
      m_comparing{LatencyTable(", module without slot events"), IdleTable(", module without slot events"),
                  kTargetComparingIdlePercent, "C_GetSlotList"},
      m_storm("Presence monitor: a module reporting an event on every poll (" + std::to_string(kStormSeconds) + " s)",
              {"Measured", "CPU time (ms)", "Wall time (s)", "% of one core", "Target", "Result"})
{
    m_events.latency.AddNote("Window running over the simulator; the measuring thread pumps Qt events. Each "
                             "insertion (CTokenSimControl::Insert) comes at a random moment 0–1000 ms after the list "
                             "emptied on the removal before it, so it meets the monitor's polling at any phase.");
    m_comparing.latency.AddNote("As above, the simulator in no-wait mode: every C_WaitForSlotEvent answers "
                                "CKR_FUNCTION_NOT_SUPPORTED, as p11-kit's proxy does with p11-kit-trust registered, "
                                "so the monitor compares the tokens present at every poll.");
}

CMarkdownTable CMonitorBench::LatencyTable(const std::string& path)
{
    return CMarkdownTable("Presence monitor: insertion to filled list (" + std::to_string(kInsertions) +
                              " insertions, " + std::to_string(kCertificates) + " certificates" + path + ")",
                          {"Statistic", "Time (ms)", "Target", "Result"});
}

CMarkdownTable CMonitorBench::IdleTable(const std::string& path)
{
    return CMarkdownTable("Presence monitor: idle CPU (" + std::to_string(kIdleSeconds) + " s, no token changes" +
                              path + ")",
                          {"Measured", "CPU time (ms)", "Wall time (s)", "% of one core", "Target", "Result"});
}

void CMonitorBench::Run()
{
    CBenchDialog dialog;
    if (dialog.Rows() != kCertificates)
        throw std::runtime_error("the window shows " + std::to_string(dialog.Rows()) + " rows at start-up");
    std::cerr << "monitor_bench: insertions\n";
    MeasureInsertions(dialog, m_events);
    std::cerr << "monitor_bench: idle for " << kIdleSeconds << " s\n";
    MeasureIdle(dialog, m_events);
    std::cerr << "monitor_bench: an event on every poll for " << kStormSeconds << " s\n";
    MeasureEventStorm(dialog);

    m_token.Sim().Control().SetMode(ETokenSimMode::NoWait);
    RestartMonitor(dialog);
    // A monitor that cannot follow such a module fails here; the tables above still count.
    try {
        std::cerr << "monitor_bench: insertions without slot events\n";
        MeasureInsertions(dialog, m_comparing);
        std::cerr << "monitor_bench: idle for " << kIdleSeconds << " s without slot events\n";
        MeasureIdle(dialog, m_comparing);
    } catch (const std::runtime_error& e) {
        m_comparing.latency.AddNote(std::string("**Not measured: ") + e.what() + "**");
    }
    m_token.Sim().Control().SetMode(ETokenSimMode::Normal);
    if (!dialog.Prompts().Texts().empty())
        m_events.latency.AddNote("**The window showed " + std::to_string(dialog.Prompts().Texts().size()) +
                          " message box(es)**, first: " + dialog.Prompts().Texts().front());
}

double CMonitorBench::OneInsertion(CBenchDialog& dialog, std::mt19937& random)
{
    testsupport::CSimulatedToken& sim = m_token.Sim();
    sim.Control().Remove(sim.Slot());
    if (!CBenchDialog::PumpUntil([&] { return dialog.Rows() == 0; }, kTimeoutMs))
        throw std::runtime_error("the list did not empty after a removal");
    CBenchDialog::Pump(std::uniform_int_distribution<int>(0, 999)(random));

    Clock::time_point start = Clock::now();
    sim.Control().Insert(sim.Slot());
    if (!CBenchDialog::PumpUntil([&] { return dialog.Rows() == kCertificates; }, kTimeoutMs))
        return -1;
    return static_cast<double>(NsSince(start)) / 1e6;
}

void CMonitorBench::MeasureInsertions(CBenchDialog& dialog, SPath& path)
{
    std::mt19937 random(20240601);  // fixed start: the same phases on every run
    CSamples millis;
    int timeouts = 0;
    for (int i = 0; i < kInsertions; ++i) {
        double ms = OneInsertion(dialog, random);
        if (ms < 0)
            ++timeouts;
        else
            millis.Add(ms);
    }
    bool complete = timeouts == 0;
    // The target is the median's; the spread shows the 500 ms polling pause.
    auto row = [&](const char* statistic, double value, bool target) {
        path.latency.AddRow({statistic, CMarkdownTable::Fixed(value, 1),
                          target ? "< " + CMarkdownTable::Fixed(kTargetLatencyMs, 0) + " ms" : "none set",
                          target ? CMarkdownTable::PassMiss(complete && value < kTargetLatencyMs) : "—"});
    };
    row("min", millis.Min(), false);
    row("median", millis.Median(), true);
    row("p90", millis.Percentile(90), false);
    row("max", millis.Max(), false);
    if (!complete)
        path.latency.AddNote("**" + std::to_string(timeouts) + " insertion(s) not reflected within " +
                          std::to_string(kTimeoutMs) + " ms**");
}

std::set<pid_t> CMonitorBench::RestartMonitor(CBenchDialog& dialog)
{
    dialog.Dlg().Follower().Stop();
    std::set<pid_t> before = CThreadCpu::Threads();
    if (!dialog.Dlg().StartMonitor())
        throw std::runtime_error("the monitor did not start again");
    std::set<pid_t> added;
    for (pid_t tid : CThreadCpu::Threads()) {
        if (before.count(tid) == 0)
            added.insert(tid);
    }
    return added;
}

void CMonitorBench::MeasureIdle(CBenchDialog& dialog, SPath& path)
{
    std::set<pid_t> monitor = RestartMonitor(dialog);
    CBenchDialog::Pump(1000);  // past the first polls after the start

    const CTokenSimTrace& trace = m_token.Sim().Trace();
    trace.Truncate();
    std::map<pid_t, long long> threadStart;
    for (pid_t tid : monitor)
        threadStart[tid] = CThreadCpu::ThreadNs(tid);
    long long processStart = CThreadCpu::ProcessNs();
    Clock::time_point start = Clock::now();

    // The window's own idle loop, as the program runs it: no pumping.
    QEventLoop loop;
    QTimer::singleShot(kIdleSeconds * 1000, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();

    long long wallNs = NsSince(start);
    long long monitorNs = 0;
    for (const auto& [tid, ns] : threadStart)
        monitorNs += CThreadCpu::ThreadNs(tid) - ns;
    std::size_t polls = trace.Count(path.pollCall);

    std::string what = monitor.size() == 1 ? "monitor thread (tid " + std::to_string(*monitor.begin()) + ")"
                                           : std::to_string(monitor.size()) + " threads started with the monitor";
    AddIdleRow(path, what, monitorNs, wallNs);
    AddIdleRow(path, "whole process (getrusage RUSAGE_SELF)", CThreadCpu::ProcessNs() - processStart, wallNs);
    path.idle.AddNote("Monitor thread: its /proc/self/task/<tid>/schedstat run time; the thread is the one "
                      "StartMonitor() adds. Its CPU includes the simulator's work in each poll.");
    std::string calls;
    for (const char* call : {"C_WaitForSlotEvent", "C_GetSlotList", "C_GetSlotInfo", "C_GetSessionInfo",
                             "C_GetTokenInfo", "C_OpenSession"}) {
        if (std::size_t n = trace.Count(call); n > 0)
            calls += std::string(calls.empty() ? "" : ", ") + call + " " + std::to_string(n);
    }
    path.idle.AddNote("Module calls meanwhile: " + calls + ".");
    path.idle.AddNote(std::string("Polls (") + path.pollCall + ") in the window: " + std::to_string(polls) +
                   (polls > 0 ? ", one every " + CMarkdownTable::Fixed(static_cast<double>(wallNs) / 1e6 / static_cast<double>(polls), 0) +
                                    " ms, " + CMarkdownTable::Fixed(static_cast<double>(monitorNs) / 1e3 / static_cast<double>(polls), 0) +
                                    " µs of monitor CPU each"
                                : std::string()) +
                   "; monitor still running: " + (dialog.Dlg().Follower().IsRunning() ? "yes" : "**no**") + ".");
}

void CMonitorBench::MeasureEventStorm(CBenchDialog& dialog)
{
    testsupport::CSimulatedToken& sim = m_token.Sim();
    sim.Control().SetMode(ETokenSimMode::EventEveryPoll);
    RestartMonitor(dialog);
    const CTokenSimTrace& trace = sim.Trace();
    trace.Truncate();
    long long processStart = CThreadCpu::ProcessNs();
    Clock::time_point start = Clock::now();

    QEventLoop loop;
    QTimer::singleShot(kStormSeconds * 1000, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();

    long long wallNs = NsSince(start);
    long long cpuNs = CThreadCpu::ProcessNs() - processStart;
    sim.Control().SetMode(ETokenSimMode::Normal);
    double percent = 100.0 * static_cast<double>(cpuNs) / static_cast<double>(wallNs);
    m_storm.AddRow({"whole process (getrusage RUSAGE_SELF)",
                    CMarkdownTable::Fixed(static_cast<double>(cpuNs) / 1e6, 2),
                    CMarkdownTable::Fixed(static_cast<double>(wallNs) / 1e9, 2),
                    CMarkdownTable::Fixed(percent, 2),
                    "< " + CMarkdownTable::Fixed(kTargetStormPercent, 0) + " %",
                    CMarkdownTable::PassMiss(percent < kTargetStormPercent)});
    m_storm.AddNote("The simulator in event-every-poll mode: every non-blocking C_WaitForSlotEvent reports the "
                    "token's slot. Polls: " + std::to_string(trace.Count("C_WaitForSlotEvent")) +
                    "; refreshes (C_FindObjectsInit): " + std::to_string(trace.Count("C_FindObjectsInit")) +
                    "; list still filled: " + (dialog.Rows() == kCertificates ? "yes" : "**no**") + ".");
}

void CMonitorBench::AddIdleRow(SPath& path, const std::string& what, long long cpuNs, long long wallNs)
{
    double percent = 100.0 * static_cast<double>(cpuNs) / static_cast<double>(wallNs);
    path.idle.AddRow({what, CMarkdownTable::Fixed(static_cast<double>(cpuNs) / 1e6, 2),
                      CMarkdownTable::Fixed(static_cast<double>(wallNs) / 1e9, 2), CMarkdownTable::Fixed(percent, 3),
                      "< " + CMarkdownTable::Fixed(path.targetIdlePercent, 1) + " %",
                      CMarkdownTable::PassMiss(percent < path.targetIdlePercent)});
}

void CMonitorBench::Print(std::ostream& out) const
{
    m_events.latency.Print(out);
    m_events.idle.Print(out);
    m_storm.Print(out);
    m_comparing.latency.Print(out);
    m_comparing.idle.Print(out);
}
