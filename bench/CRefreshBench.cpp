#include "CRefreshBench.h"

#include "CBenchToken.h"
#include "CChildProcess.h"
#include "CModuleLink.h"
#include "platform/CLibrary.h"

#include <QApplication>

#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <stdexcept>

namespace {

constexpr const char* kAlreadyInitialized = "CKR_CRYPTOKI_ALREADY_INITIALIZED";

// The calls one refresh of the one token should make, besides 3
// C_GetAttributeValue a certificate.
const std::pair<const char*, std::size_t> kFixedCalls[] = {
    {"C_Initialize", 1},  {"C_GetSlotList", 2},     {"C_GetTokenInfo", 1}, {"C_CloseSession", 1},
    {"C_OpenSession", 1}, {"C_FindObjectsInit", 1}, {"C_FindObjects", 1},  {"C_FindObjectsFinal", 1},
};
constexpr const char* kAttributeCall = "C_GetAttributeValue";
constexpr std::size_t kAttributeCallsPerCert = 3;

std::vector<std::string> CallColumns()
{
    std::vector<std::string> columns{"Certificates", "Total (expected)"};
    for (const auto& [function, expected] : kFixedCalls)
        columns.emplace_back(function);
    columns.emplace_back(kAttributeCall);
    columns.insert(columns.end(), {"Outside the expected list", "Result"});
    return columns;
}

// "n" when as expected, else "n (expected m)".
std::string CountCell(std::size_t actual, std::size_t expected)
{
    std::string cell = std::to_string(actual);
    return actual == expected ? cell : "**" + cell + "** (expected " + std::to_string(expected) + ")";
}

std::string Join(const std::vector<std::string>& parts)
{
    std::string joined;
    for (const std::string& p : parts)
        joined += (joined.empty() ? "" : ", ") + p;
    return joined.empty() ? "none" : joined;
}

}  // namespace

CRefreshBench::CRefreshBench()
    : m_calls("Module calls per refresh (simulator trace, monitor stopped)", CallColumns()),
      m_times("Refresh wall time in the window's process (" + std::to_string(kRefreshes) + " refreshes, monitor stopped)",
              {"Certificates", "Module", "Median (ms)", "p90 (ms)", "Max (ms)", "Rows shown", "Target", "Result"})
{
    m_calls.AddNote("Expected per refresh: C_Initialize (answering CKR_CRYPTOKI_ALREADY_INITIALIZED), "
                    "C_GetSlotList ×2, C_GetTokenInfo (one token present), C_CloseSession + C_OpenSession, C_FindObjectsInit, C_FindObjects, "
                    "C_FindObjectsFinal, and 3 × C_GetAttributeValue per certificate.");
    m_times.AddNote("Simulator: libtokensim.so in front of SoftHSM2 (state file read and trace written on every "
                    "call). SoftHSM2: its private copy loaded directly. Each configuration runs in its own process.");
}

void CRefreshBench::Run()
{
    for (int count : kCounts) {
        std::cerr << "refresh_bench: token with " << count << " certificate(s)\n";
        CBenchToken token(count);
        MeasureToken(token);
    }
}

void CRefreshBench::MeasureToken(CBenchToken& token)
{
    CRefreshProbe::SResult simulated = Probe(CBenchToken::SimulatorModule(), true, token.Count());
    ReportCalls(token.Count(), simulated);
    ReportTimes(token.Count(), "simulator → SoftHSM2", simulated);
    ReportTimes(token.Count(), "SoftHSM2", Probe(token.SoftHsmModule(), false, token.Count()));
    m_process.Measure(token);
}

CRefreshProbe::SResult CRefreshBench::Probe(const std::string& module, bool countCalls, int count)
{
    std::string self = std::filesystem::read_symlink("/proc/self/exe");
    CModuleLink link(CLibrary::ExecutableFolder(), module);
    CChildProcess::SResult run =
        CChildProcess::Run({self, "--probe", countCalls ? "calls" : "nocalls", std::to_string(kRefreshes)});
    if (!run.Exited0())
        throw std::runtime_error("the refresh probe over " + std::to_string(count) + " certificate(s) failed: " +
                                 run.Describe());
    return CRefreshProbe::Parse(run.out);
}

void CRefreshBench::ReportCalls(int count, const CRefreshProbe::SResult& result)
{
    std::map<std::string, std::size_t> counts;
    std::vector<std::string> flagged;
    for (const auto& [function, rv] : result.calls) {
        ++counts[function];
        if (function == "C_Initialize" && rv != kAlreadyInitialized)
            flagged.push_back("C_Initialize rv=" + rv);
    }
    std::size_t expectedTotal = kAttributeCallsPerCert * static_cast<std::size_t>(count);
    std::vector<std::string> row{std::to_string(count), ""};
    bool pass = true;
    auto cell = [&](const std::string& function, std::size_t expected) {
        std::size_t actual = counts[function];
        pass = pass && actual == expected;
        row.push_back(CountCell(actual, expected));
        counts.erase(function);
    };
    for (const auto& [function, expected] : kFixedCalls) {
        cell(function, expected);
        expectedTotal += expected;
    }
    cell(kAttributeCall, kAttributeCallsPerCert * static_cast<std::size_t>(count));
    for (const auto& [function, n] : counts)
        flagged.push_back("**" + function + " ×" + std::to_string(n) + "**");
    pass = pass && flagged.empty();
    row[1] = CountCell(result.calls.size(), expectedTotal);
    row.push_back(Join(flagged));
    row.push_back(CMarkdownTable::PassMiss(pass));
    m_calls.AddRow(row);
}

void CRefreshBench::ReportTimes(int count, const char* module, const CRefreshProbe::SResult& result)
{
    std::string rows = std::to_string(result.rows) + (result.rows == count ? "" : " (expected " + std::to_string(count) + ")");
    if (!result.prompts.empty())
        rows += "; message boxes: " + Join(result.prompts);
    m_times.AddRow({std::to_string(count), module, CMarkdownTable::Fixed(result.millis.Median(), 2),
                    CMarkdownTable::Fixed(result.millis.Percentile(90), 2),
                    CMarkdownTable::Fixed(result.millis.Max(), 2), rows, "none set", "—"});
}

void CRefreshBench::Print(std::ostream& out) const
{
    m_calls.Print(out);
    m_times.Print(out);
    m_process.Print(out);
}

bool CRefreshBench::IsProbe(int argc, char** argv)
{
    return argc == 4 && std::strcmp(argv[1], "--probe") == 0;
}

int CRefreshBench::RunProbe(char** argv)
{
    int argc = 1;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("certpurge"));
    CRefreshProbe(std::strcmp(argv[2], "calls") == 0, std::atoi(argv[3])).Run(std::cout);
    return 0;
}
