#pragma once

#include <ostream>
#include <string>
#include <vector>

// One benchmark's results as a Markdown table under a heading, with notes
// below it.
class CMarkdownTable {
public:
    CMarkdownTable(std::string title, std::vector<std::string> columns);

    void AddRow(std::vector<std::string> cells);
    void AddNote(std::string note);
    void Print(std::ostream& out) const;

    // `value` with `decimals` digits after the point.
    static std::string Fixed(double value, int decimals);
    static std::string PassMiss(bool pass) { return pass ? "PASS" : "**MISS**"; }

private:
    static void PrintRow(std::ostream& out, const std::vector<std::string>& cells);

    std::string m_strTitle;
    std::vector<std::string> m_columns;
    std::vector<std::vector<std::string>> m_rows;
    std::vector<std::string> m_notes;
};
