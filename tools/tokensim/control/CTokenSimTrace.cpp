#include "CTokenSimTrace.h"

#include "CTextFile.h"

#include <algorithm>
#include <cerrno>
#include <stdexcept>

#include <fcntl.h>
#include <unistd.h>

CTokenSimTrace::CTokenSimTrace(std::string path) : m_strPath(std::move(path)) {}

std::vector<std::string> CTokenSimTrace::Lines() const
{
    std::string text = CTextFile::Read(m_strPath).value_or("");
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return lines;
}

std::vector<CTraceRecord> CTokenSimTrace::Records() const
{
    std::vector<CTraceRecord> records = AllRecords();
    std::erase_if(records, [](const CTraceRecord& r) { return r.Blocking(); });
    return records;
}

std::vector<CTraceRecord> CTokenSimTrace::Records(std::string_view function) const
{
    std::vector<CTraceRecord> records = Records();
    std::erase_if(records, [&](const CTraceRecord& r) { return r.Function() != function; });
    return records;
}

std::vector<std::string> CTokenSimTrace::Calls() const
{
    std::vector<std::string> calls;
    for (const CTraceRecord& r : Records())
        calls.push_back(r.Function());
    return calls;
}

std::size_t CTokenSimTrace::Count(std::string_view function) const
{
    return Records(function).size();
}

std::vector<CTraceRecord> CTokenSimTrace::BlockingNotes(std::string_view function) const
{
    std::vector<CTraceRecord> records = AllRecords();
    std::erase_if(records, [&](const CTraceRecord& r) { return !r.Blocking() || r.Function() != function; });
    return records;
}

std::size_t CTokenSimTrace::CountBlocking(std::string_view function) const
{
    return BlockingNotes(function).size();
}

bool CTokenSimTrace::InOrder(const std::vector<std::string>& functions) const
{
    std::vector<std::string> calls = Calls();
    auto next = calls.begin();
    for (const std::string& f : functions) {
        next = std::find(next, calls.end(), f);
        if (next == calls.end())
            return false;
        ++next;
    }
    return true;
}

std::vector<CTraceRecord> CTokenSimTrace::AllRecords() const
{
    std::vector<CTraceRecord> records;
    for (const std::string& line : Lines()) {
        if (std::optional<CTraceRecord> r = CTraceRecord::Parse(line))
            records.push_back(std::move(*r));
    }
    return records;
}

void CTokenSimTrace::Truncate() const
{
    if (truncate(m_strPath.c_str(), 0) != 0 && errno != ENOENT)
        throw std::runtime_error("cannot empty " + m_strPath);
}
