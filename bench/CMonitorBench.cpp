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
      m_latency("Presence monitor: insertion to filled list (" + std::to_string(kInsertions) + " insertions, " +
                    std::to_string(kCertificates) + " certificates)",
                {"Statistic", "Time (ms)", "Target", "Result"}),
      m_idle("Presence monitor: idle CPU (" + std::to_string(kIdleSeconds) + " s, no token changes)",
             {"Measured", "CPU time (ms)", "Wall time (s)", "% of one core", "Target", "Result"}),
      m_storm("Presence monitor: a module reporting an event on every poll (" + std::to_string(kStormSeconds) + " s)",
              {"Measured", "CPU time (ms)", "Wall time (s)", "% of one core", "Target", "Result"})
{
    m_latency.AddNote("Window running over the simulator; the measuring thread pumps Qt events. Each insertion "
                      "(CTokenSimControl::Insert) comes at a random moment 0–1000 ms after the list emptied on "
                      "the removal before it, so it meets the monitor's polling at any phase.");
}

void CMonitorBench::Run()
{
    CBenchDialog dialog;
    if (dialog.Rows() != kCertificates)
        throw std::runtime_error("the window shows " + std::to_string(dialog.Rows()) + " rows at start-up");
    std::cerr << "monitor_bench: insertions\n";
    MeasureInsertions(dialog);
    std::cerr << "monitor_bench: idle for " << kIdleSeconds << " s\n";
    MeasureIdle(dialog);
    std::cerr << "monitor_bench: an event on every poll for " << kStormSeconds << " s\n";
    MeasureEventStorm(dialog);
    if (!dialog.Prompts().Texts().empty())
        m_latency.AddNote("**The window showed " + std::to_string(dialog.Prompts().Texts().size()) +
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

void CMonitorBench::MeasureInsertions(CBenchDialog& dialog)
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
        m_latency.AddRow({statistic, CMarkdownTable::Fixed(value, 1),
                          target ? "< " + CMarkdownTable::Fixed(kTargetLatencyMs, 0) + " ms" : "none set",
                          target ? CMarkdownTable::PassMiss(complete && value < kTargetLatencyMs) : "—"});
    };
    row("min", millis.Min(), false);
    row("median", millis.Median(), true);
    row("p90", millis.Percentile(90), false);
    row("max", millis.Max(), false);
    if (!complete)
        m_latency.AddNote("**" + std::to_string(timeouts) + " insertion(s) not reflected within " +
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

void CMonitorBench::MeasureIdle(CBenchDialog& dialog)
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
    std::size_t polls = trace.Count("C_WaitForSlotEvent");

    std::string what = monitor.size() == 1 ? "monitor thread (tid " + std::to_string(*monitor.begin()) + ")"
                                           : std::to_string(monitor.size()) + " threads started with the monitor";
    AddIdleRow(what, monitorNs, wallNs);
    AddIdleRow("whole process (getrusage RUSAGE_SELF)", CThreadCpu::ProcessNs() - processStart, wallNs);
    m_idle.AddNote("Monitor thread: its /proc/self/task/<tid>/schedstat run time; the thread is the one "
                   "StartMonitor() adds. Its CPU includes the simulator's work in each poll.");
    m_idle.AddNote("Polls (C_WaitForSlotEvent) in the window: " + std::to_string(polls) +
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

void CMonitorBench::AddIdleRow(const std::string& what, long long cpuNs, long long wallNs)
{
    double percent = 100.0 * static_cast<double>(cpuNs) / static_cast<double>(wallNs);
    m_idle.AddRow({what, CMarkdownTable::Fixed(static_cast<double>(cpuNs) / 1e6, 2),
                   CMarkdownTable::Fixed(static_cast<double>(wallNs) / 1e9, 2), CMarkdownTable::Fixed(percent, 3),
                   "< " + CMarkdownTable::Fixed(kTargetIdlePercent, 1) + " %",
                   CMarkdownTable::PassMiss(percent < kTargetIdlePercent)});
}

void CMonitorBench::Print(std::ostream& out) const
{
    m_latency.Print(out);
    m_idle.Print(out);
    m_storm.Print(out);
}
