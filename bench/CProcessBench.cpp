#include "CProcessBench.h"

#include "CBenchToken.h"
#include "CModuleLink.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

namespace {

std::size_t CountLines(const std::string& text, const char* marker)
{
    std::istringstream lines(text);
    std::string line;
    std::size_t n = 0;
    while (std::getline(lines, line))
        n += (marker == nullptr || line.find(marker) != std::string::npos) ? 1 : 0;
    return n;
}

std::string Folder(const std::string& file)
{
    return std::filesystem::path(file).parent_path().string();
}

}  // namespace

CProcessBench::CProcessBench()
    : m_compare("certpurge-list against pkcs11-tool (" + std::to_string(kRuns) +
                    " runs each, whole process, straight on SoftHSM2)",
                {"Certificates", "certpurge-list median (ms)", "pkcs11-tool median (ms)", "Ratio", "Target", "Result"}),
      m_memory("Peak memory (ru_maxrss)", {"Program", "Module", "Certificates", "Peak RSS (MiB)", "Check", "Target"})
{
    m_compare.AddNote("pkcs11-tool --module <SoftHSM2 copy> --list-objects --type cert; certpurge-list copied into "
                      "a folder with qemva_11.dll linked to the same SoftHSM2 copy. Runs alternate, after one "
                      "warm-up run of each; wall time from fork to wait4.");
    m_memory.AddNote("The window program runs with QT_QPA_PLATFORM=offscreen for " + std::to_string(kWindowMillis) +
                     " ms, then gets SIGTERM; its rusage comes from wait4. certpurge-list and pkcs11-tool: the "
                     "largest of their runs above.");
}

void CProcessBench::Measure(CBenchToken& token)
{
    CompareListings(token);
    MeasureWindow(token, CBenchToken::SimulatorModule(), "simulator → SoftHSM2");
    MeasureWindow(token, token.SoftHsmModule(), "SoftHSM2");
}

std::string CProcessBench::FindProgram(const char* name)
{
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path != nullptr ? path : "/usr/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        std::string candidate = dir + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

void CProcessBench::RunOnce(const std::vector<std::string>& argv, std::size_t expectedLines, const char* marker,
                            SSeries& series)
{
    CChildProcess::SResult run = CChildProcess::Run(argv, CChildProcess::EOutput::Capture, true);
    series.millis.Add(run.wallMs);
    series.maxRssKb = std::max(series.maxRssKb, run.maxRssKb);
    std::size_t lines = CountLines(run.out, marker);
    if (series.failure.empty() && (!run.Exited0() || lines != expectedLines))
        series.failure = run.Describe() + ", " + std::to_string(lines) + " certificate(s) listed";
}

void CProcessBench::CompareListings(CBenchToken& token)
{
    std::string folder = token.MakeFolder("cli");
    std::string list = folder + "/certpurge-list";
    std::filesystem::copy_file(CERTPURGE_LIST_BINARY, list, std::filesystem::copy_options::overwrite_existing);
    CModuleLink link(folder, token.SoftHsmModule());
    std::string tool = FindProgram("pkcs11-tool");
    std::vector<std::string> toolArgv{tool, "--module", token.SoftHsmModule(), "--list-objects", "--type", "cert"};

    auto count = static_cast<std::size_t>(token.Count());
    SSeries ours;
    SSeries theirs;
    SSeries warmUp;
    RunOnce({list}, count, nullptr, warmUp);
    RunOnce(toolArgv, count, "Certificate Object", warmUp);
    for (int i = 0; i < kRuns; ++i) {
        RunOnce({list}, count, nullptr, ours);
        RunOnce(toolArgv, count, "Certificate Object", theirs);
    }

    double ratio = ours.millis.Median() / theirs.millis.Median();
    bool targeted = token.Count() == kTargetCount;
    std::string result = targeted ? CMarkdownTable::PassMiss(ratio <= kTargetRatio) : "—";
    if (!ours.failure.empty())
        result += "; certpurge-list wrong: " + ours.failure;
    if (!theirs.failure.empty())
        result += "; pkcs11-tool wrong: " + theirs.failure;
    m_compare.AddRow({std::to_string(token.Count()), CMarkdownTable::Fixed(ours.millis.Median(), 2),
                      CMarkdownTable::Fixed(theirs.millis.Median(), 2), CMarkdownTable::Fixed(ratio, 2),
                      targeted ? "≤ " + CMarkdownTable::Fixed(kTargetRatio, 1) : "none set", result});
    AddMemoryRow("certpurge-list", "SoftHSM2", token.Count(), ours.maxRssKb, ours.failure.empty() ? "listed all" : ours.failure);
    AddMemoryRow("pkcs11-tool (reference)", "SoftHSM2", token.Count(), theirs.maxRssKb,
                 theirs.failure.empty() ? "listed all" : theirs.failure);
}

void CProcessBench::MeasureWindow(CBenchToken& token, const std::string& module, const char* label)
{
    CModuleLink link(Folder(CERTPURGE_BINARY), module);
    const CTokenSimTrace& trace = token.Sim().Trace();
    trace.Truncate();
    CChildProcess window({CERTPURGE_BINARY}, CChildProcess::EOutput::Discard, true);
    window.Start();
    std::this_thread::sleep_for(std::chrono::milliseconds(kWindowMillis));
    window.Terminate();
    CChildProcess::SResult run = window.Wait();

    // Only the simulator leaves a trace to tell whether the list was filled.
    std::string check = "not traced";
    if (module == CBenchToken::SimulatorModule()) {
        std::size_t reads = trace.Count("C_GetAttributeValue");
        bool filled = reads >= 3 * static_cast<std::size_t>(token.Count());
        check = filled ? "list filled" : "**list not filled** (" + std::to_string(reads) + " attribute reads)";
    }
    if (!WIFSIGNALED(run.status) || WTERMSIG(run.status) != SIGTERM)
        check += "; ended by " + run.Describe();
    AddMemoryRow("certpurge (window)", label, token.Count(), run.maxRssKb, check);
}

void CProcessBench::AddMemoryRow(const char* program, const char* module, int count, long maxRssKb,
                                 const std::string& check)
{
    m_memory.AddRow({program, module, std::to_string(count), CMarkdownTable::Fixed(static_cast<double>(maxRssKb) / 1024.0, 1),
                     check, "none set"});
}

void CProcessBench::Print(std::ostream& out) const
{
    m_compare.Print(out);
    m_memory.Print(out);
}
