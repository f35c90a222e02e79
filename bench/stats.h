// stats.h: percentiles of measured values, shared by the rounds and the table.
#pragma once

#include <algorithm>
#include <vector>

inline double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, size_t(p * double(values.size() - 1) + 0.5));
    return values[index];
}
