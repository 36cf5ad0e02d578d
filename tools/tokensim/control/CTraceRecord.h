#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// One line of the simulator's trace:
//   C_DestroyObject session=1 object=5 rv=CKR_ACTION_PROHIBITED fault
// the function, its fields in order (inputs, then outputs such as found=3),
// its answer and, last, "fault" when a fault rule decided the answer. Or a
// note that a call is about to block, written before its answer is known:
//   C_WaitForSlotEvent flags=0x1 blocking
class CTraceRecord {
public:
    static std::optional<CTraceRecord> Parse(std::string_view line);

    const std::string& Function() const { return m_strFunction; }
    const std::string& Rv() const { return m_strRv; }
    bool Faulted() const { return m_bFaulted; }
    // A note of a call about to block; it has no answer (Rv() is "").
    bool Blocking() const { return m_bBlocking; }
    // A field's value ("" for "attrs="), or null when the line has none.
    std::optional<std::string> Field(std::string_view key) const;
    const std::vector<std::pair<std::string, std::string>>& Fields() const { return m_fields; }

private:
    bool AddWord(std::string_view word);

    std::string m_strFunction;
    std::string m_strRv;
    bool m_bFaulted = false;
    bool m_bBlocking = false;
    std::vector<std::pair<std::string, std::string>> m_fields;
};
