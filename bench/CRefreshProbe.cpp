#include "CRefreshProbe.h"

#include "CBenchDialog.h"
#include "tools/tokensim/control/CTokenSimTrace.h"

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

void CRefreshProbe::Run(std::ostream& out) const
{
    CBenchDialog dialog;
    // Only the refreshes measured may touch the module.
    dialog.Dlg().Follower().Stop();
    if (m_bCountCalls)
        CountCalls(dialog, out);
    TimeRefreshes(dialog, out);
    out << "rows " << dialog.Rows() << '\n';
    for (const std::string& text : dialog.Prompts().Texts())
        out << "prompt " << text << '\n';
}

void CRefreshProbe::CountCalls(CBenchDialog& dialog, std::ostream& out) const
{
    const char* path = std::getenv("TOKENSIM_TRACE");
    if (path == nullptr)
        throw std::runtime_error("TOKENSIM_TRACE is not set");
    CTokenSimTrace trace(path);
    trace.Truncate();
    dialog.Dlg().RefreshList();
    for (const CTraceRecord& record : trace.Records())
        out << "call " << record.Function() << ' ' << record.Rv() << '\n';
}

void CRefreshProbe::TimeRefreshes(CBenchDialog& dialog, std::ostream& out) const
{
    using Clock = std::chrono::steady_clock;
    for (int i = 0; i < m_nRefreshes; ++i) {
        Clock::time_point start = Clock::now();
        dialog.Dlg().RefreshList();
        std::chrono::duration<double, std::milli> took = Clock::now() - start;
        out << "sample " << took.count() << '\n';
    }
}

CRefreshProbe::SResult CRefreshProbe::Parse(const std::string& output)
{
    SResult result;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string key;
        words >> key;
        if (key == "call") {
            std::string function;
            std::string rv;
            words >> function >> rv;
            result.calls.emplace_back(function, rv);
        } else if (key == "sample") {
            double ms = 0;
            words >> ms;
            result.millis.Add(ms);
        } else if (key == "rows") {
            words >> result.rows;
        } else if (key == "prompt") {
            result.prompts.push_back(line.substr(7));
        }
    }
    return result;
}
