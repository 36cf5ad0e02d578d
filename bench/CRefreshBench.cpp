#include "CRefreshBench.h"

#include "CBenchToken.h"
#include "CChildProcess.h"
#include "CModuleLink.h"
#include "platform/CLibrary.h"
#include "token/TokenLimits.h"

#include <QApplication>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <span>
#include <stdexcept>

namespace {

constexpr const char* kAlreadyInitialized = "CKR_CRYPTOKI_ALREADY_INITIALIZED";

// The calls one refresh of the one token should make, besides 3
// C_GetAttributeValue a certificate and one C_FindObjects a whole batch of
// MAX_CERTS (the search asks again until a batch comes back short).
const std::pair<const char*, std::size_t> kFixedCalls[] = {
    {"C_Initialize", 1},  {"C_GetSlotList", 2},     {"C_GetTokenInfo", 1}, {"C_CloseSession", 1},
    {"C_OpenSession", 1}, {"C_FindObjectsInit", 1}, {"C_FindObjects", 1},  {"C_FindObjectsFinal", 1},
};
constexpr const char* kFindCall = "C_FindObjects";
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
              {"Certificates", "Module", "Median (ms)", "p90 (ms)", "Max (ms)", "Rows shown", "Target", "Result"}),
      m_large("A token of " + std::to_string(kLargeCount) + " certificates, straight on SoftHSM2 (" +
                  std::to_string(kLargeRuns) + " runs each)",
              {"What", "Median (ms)", "Max (ms)", "Listed", "Target", "Result"})
{
    m_calls.AddNote("Expected per refresh: C_Initialize (answering CKR_CRYPTOKI_ALREADY_INITIALIZED), "
                    "C_GetSlotList ×2, C_GetTokenInfo (one token present), C_CloseSession + C_OpenSession, C_FindObjectsInit, C_FindObjects, "
                    "C_FindObjectsFinal, and 3 × C_GetAttributeValue per certificate; one more C_FindObjects for "
                    "every whole batch of 10 certificates.");
    m_times.AddNote("Simulator: libtokensim.so in front of SoftHSM2 (state file read and trace written on every "
                    "call). SoftHSM2: its private copy loaded directly. Each configuration runs in its own process.");
    m_large.AddNote("Certificates without key pairs, every third one expired, all of them listed, ordered and judged. "
                    "certpurge-list: the whole process, copied into a folder with qemva_11.dll linked to SoftHSM2's "
                    "copy, wall time from fork to wait4, after one warm-up run. Refresh: RefreshList in the window's "
                    "process after its start-up read the token, monitor stopped, rows drawn included.");
}

void CRefreshBench::Run(bool bLargeOnly)
{
    m_bLargeOnly = bLargeOnly;
    for (int count : bLargeOnly ? std::span<const int>() : std::span<const int>(kCounts)) {
        std::cerr << "refresh_bench: token with " << count << " certificate(s)\n";
        CBenchToken token(count);
        MeasureToken(token);
    }
    MeasureLargeToken();
}

void CRefreshBench::MeasureLargeToken()
{
    std::cerr << "refresh_bench: token with " << kLargeCount << " certificates\n";
    CBenchToken token(kLargeCount, false);
    std::string folder = token.MakeFolder("large");
    std::string list = folder + "/certpurge-list";
    std::filesystem::copy_file(CERTPURGE_LIST_BINARY, list, std::filesystem::copy_options::overwrite_existing);
    CModuleLink link(folder, token.SoftHsmModule());
    // Runs a program a warm-up run and kLargeRuns more, counting the lines
    // that hold `marker` (every line when null).
    auto runs = [](const std::vector<std::string>& argv, const char* marker, int& listed, std::string& failure) {
        CSamples millis;
        for (int i = 0; i <= kLargeRuns; ++i) {
            CChildProcess::SResult run = CChildProcess::Run(argv, CChildProcess::EOutput::Capture, true);
            listed = 0;
            for (std::size_t at = 0; (at = run.out.find(marker != nullptr ? marker : "\n", at)) != std::string::npos; ++at)
                ++listed;
            if (failure.empty() && (!run.Exited0() || listed != kLargeCount))
                failure = run.Describe();
            if (i > 0)
                millis.Add(run.wallMs);
        }
        return millis;
    };
    int listed = 0;
    std::string failure;
    CSamples millis = runs({list}, nullptr, listed, failure);
    ReportLarge("certpurge-list, whole process", millis, listed, failure);
    if (std::string tool = CProcessBench::FindProgram("pkcs11-tool"); !tool.empty()) {
        failure.clear();
        millis = runs({tool, "--module", token.SoftHsmModule(), "--list-objects", "--type", "cert"}, "Certificate Object",
                      listed, failure);
        ReportLarge("pkcs11-tool --list-objects --type cert (reference)", millis, listed, failure, false);
    }

    // The window's start-up has read the token once before the refreshes timed.
    CRefreshProbe::SResult refresh = Probe(token.SoftHsmModule(), false, kLargeCount, kLargeRuns);
    ReportLarge("a refresh of the window's list", refresh.millis, refresh.rows,
                refresh.prompts.empty() ? std::string() : "message boxes: " + Join(refresh.prompts));
}

void CRefreshBench::ReportLarge(const char* what, const CSamples& millis, int listed, const std::string& failure,
                                bool bTargeted)
{
    const bool pass = listed == kLargeCount && failure.empty() && millis.Max() < kLargeTargetMs;
    std::string result = bTargeted ? CMarkdownTable::PassMiss(pass) : "—";
    if (!failure.empty())
        result += "; " + failure;
    m_large.AddRow({what, CMarkdownTable::Fixed(millis.Median(), 1), CMarkdownTable::Fixed(millis.Max(), 1),
                    std::to_string(listed), bTargeted ? "< " + CMarkdownTable::Fixed(kLargeTargetMs, 0) + " ms" : "none set",
                    result});
}

void CRefreshBench::MeasureToken(CBenchToken& token)
{
    CRefreshProbe::SResult simulated = Probe(CBenchToken::SimulatorModule(), true, token.Count());
    ReportCalls(token.Count(), simulated);
    ReportTimes(token.Count(), "simulator → SoftHSM2", simulated);
    ReportTimes(token.Count(), "SoftHSM2", Probe(token.SoftHsmModule(), false, token.Count()));
    m_process.Measure(token);
}

CRefreshProbe::SResult CRefreshBench::Probe(const std::string& module, bool countCalls, int count, int refreshes)
{
    std::string self = std::filesystem::read_symlink("/proc/self/exe");
    CModuleLink link(CLibrary::ExecutableFolder(), module);
    CChildProcess::SResult run =
        CChildProcess::Run({self, "--probe", countCalls ? "calls" : "nocalls", std::to_string(refreshes)});
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
    const std::size_t wholeBatches = static_cast<std::size_t>(count) / MAX_CERTS;
    std::vector<std::string> row{std::to_string(count), ""};
    bool pass = true;
    auto cell = [&](const std::string& function, std::size_t expected) {
        std::size_t actual = counts[function];
        pass = pass && actual == expected;
        row.push_back(CountCell(actual, expected));
        counts.erase(function);
    };
    for (const auto& [function, fixed] : kFixedCalls) {
        const std::size_t expected = fixed + (std::strcmp(function, kFindCall) == 0 ? wholeBatches : 0);
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
    if (!m_bLargeOnly) {
        m_calls.Print(out);
        m_times.Print(out);
        m_process.Print(out);
    }
    m_large.Print(out);
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
