// SPDX-License-Identifier: MIT
// The summary the benchmarks print of a series of timings: minimum, 10th
// percentile, median, 90th percentile (nearest rank below) and maximum.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace bench {

struct Stats {
    double min, p10, median, p90, max;
};

inline Stats summarize(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    auto at = [&](double q) {
        return values[static_cast<std::size_t>(q * static_cast<double>(values.size() - 1))];
    };
    return {values.front(), at(0.10), at(0.50), at(0.90), values.back()};
}

}  // namespace bench
