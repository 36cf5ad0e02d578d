#include "CMarkdownTable.h"

#include <cstdio>
#include <utility>

CMarkdownTable::CMarkdownTable(std::string title, std::vector<std::string> columns)
    : m_strTitle(std::move(title)), m_columns(std::move(columns))
{
}

void CMarkdownTable::AddRow(std::vector<std::string> cells)
{
    cells.resize(m_columns.size());
    m_rows.push_back(std::move(cells));
}

void CMarkdownTable::AddNote(std::string note)
{
    m_notes.push_back(std::move(note));
}

void CMarkdownTable::PrintRow(std::ostream& out, const std::vector<std::string>& cells)
{
    out << '|';
    for (const std::string& cell : cells)
        out << ' ' << cell << " |";
    out << '\n';
}

void CMarkdownTable::Print(std::ostream& out) const
{
    out << "## " << m_strTitle << "\n\n";
    PrintRow(out, m_columns);
    out << '|';
    for (std::size_t i = 0; i < m_columns.size(); ++i)
        out << "---|";
    out << '\n';
    for (const auto& row : m_rows)
        PrintRow(out, row);
    if (!m_notes.empty())
        out << '\n';
    for (const std::string& note : m_notes)
        out << "- " << note << '\n';
    out << '\n';
}

std::string CMarkdownTable::Fixed(double value, int decimals)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
    return buf;
}
