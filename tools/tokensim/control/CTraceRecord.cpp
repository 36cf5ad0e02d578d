#include "CTraceRecord.h"

std::optional<CTraceRecord> CTraceRecord::Parse(std::string_view line)
{
    CTraceRecord record;
    size_t pos = 0;
    while (pos < line.size()) {
        size_t end = line.find(' ', pos);
        if (end == std::string_view::npos)
            end = line.size();
        if (end > pos && !record.AddWord(line.substr(pos, end - pos)))
            return std::nullopt;
        pos = end + 1;
    }
    if (!record.m_strFunction.starts_with("C_") || record.m_strRv.empty() == !record.m_bBlocking)
        return std::nullopt;
    return record;
}

bool CTraceRecord::AddWord(std::string_view word)
{
    if (m_strFunction.empty()) {
        m_strFunction = std::string(word);
        return true;
    }
    if (word == "fault") {
        m_bFaulted = true;
        return true;
    }
    if (word == "blocking") {
        m_bBlocking = true;
        return true;
    }
    size_t eq = word.find('=');
    if (eq == std::string_view::npos)
        return false;
    std::string key(word.substr(0, eq));
    std::string value(word.substr(eq + 1));
    if (key == "rv")
        m_strRv = value;
    else
        m_fields.emplace_back(std::move(key), std::move(value));
    return true;
}

std::optional<std::string> CTraceRecord::Field(std::string_view key) const
{
    for (const auto& [k, v] : m_fields) {
        if (k == key)
            return v;
    }
    return std::nullopt;
}
