// bench/ is the benchmark program, devicescan-bench: each group runs our implementation and its
// standard or platform peer side by side in one run and prints their ratio (main.cpp, the
// harness in BenchHarness.h). This file: taking turns between the measurements of a group.
#pragma once

#include <algorithm>
#include <cstddef>
#include <functional>
#include <limits>
#include <vector>

#include "bench/BenchHarness.h"

namespace devicescan::bench {

// Runs each measurement in turn, a few rounds over, and keeps each one's best (ns per op). Load
// from other processes then falls on ours and its peers alike instead of skewing their ratio.
inline std::vector<double> Alternate(const Context& context,
                                     const std::vector<std::function<double()>>& measurements) {
    const int rounds = context.GetMode() == Mode::kQuick ? 1 : 3;
    std::vector<double> best(measurements.size(), std::numeric_limits<double>::max());
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t i = 0; i < measurements.size(); ++i) {
            best[i] = std::min(best[i], measurements[i]());
        }
    }
    return best;
}

}  // namespace devicescan::bench
