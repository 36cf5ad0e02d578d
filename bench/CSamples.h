#pragma once

#include <cstddef>
#include <vector>

// Measured values of one quantity, and the order statistics reported.
class CSamples {
public:
    void Add(double value) { m_values.push_back(value); }
    std::size_t Size() const { return m_values.size(); }
    bool Empty() const { return m_values.empty(); }

    double Median() const;
    // Nearest-rank percentile, `p` in (0, 100].
    double Percentile(double p) const;
    double Min() const;
    double Max() const;

private:
    std::vector<double> Sorted() const;

    std::vector<double> m_values;
};
