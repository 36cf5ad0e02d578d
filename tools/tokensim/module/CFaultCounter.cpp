#include "CFaultCounter.h"

#include <algorithm>

const CFaultRule* CFaultCounter::Match(std::string_view function, const std::vector<CFaultRule>& rules)
{
    const CFaultRule* fired = nullptr;
    for (const CFaultRule& rule : rules) {
        if (rule.Function() != function)
            continue;
        CK_ULONG n = ++m_counts[rule.Id()];
        if (fired == nullptr && rule.FiresOn(n))
            fired = &rule;
    }
    return fired;
}

void CFaultCounter::Keep(const std::vector<CFaultRule>& rules)
{
    std::erase_if(m_counts, [&](const auto& item) {
        return std::none_of(rules.begin(), rules.end(), [&](const CFaultRule& r) { return r.Id() == item.first; });
    });
}
