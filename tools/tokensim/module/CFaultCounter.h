#pragma once

#include "tools/tokensim/control/CFaultRule.h"

#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

// Counts calls against the fault rules, per rule, from the moment the
// module first sees each rule.
class CFaultCounter {
public:
    // Counts this call against every rule for `function` and returns the
    // first rule that fires on it, or null.
    const CFaultRule* Match(std::string_view function, const std::vector<CFaultRule>& rules);
    // Drops the counts of rules no longer in force.
    void Keep(const std::vector<CFaultRule>& rules);

private:
    std::unordered_map<std::uint64_t, CK_ULONG> m_counts;
};
