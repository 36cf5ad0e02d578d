#include "CSamples.h"

#include <algorithm>
#include <cmath>

std::vector<double> CSamples::Sorted() const
{
    std::vector<double> sorted = m_values;
    std::sort(sorted.begin(), sorted.end());
    return sorted;
}

double CSamples::Median() const
{
    if (m_values.empty())
        return 0;
    std::vector<double> s = Sorted();
    std::size_t mid = s.size() / 2;
    return s.size() % 2 != 0 ? s[mid] : (s[mid - 1] + s[mid]) / 2;
}

double CSamples::Percentile(double p) const
{
    if (m_values.empty())
        return 0;
    std::vector<double> s = Sorted();
    auto rank = static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(s.size())));
    return s[std::clamp<std::size_t>(rank, 1, s.size()) - 1];
}

double CSamples::Min() const
{
    return m_values.empty() ? 0 : *std::min_element(m_values.begin(), m_values.end());
}

double CSamples::Max() const
{
    return m_values.empty() ? 0 : *std::max_element(m_values.begin(), m_values.end());
}
