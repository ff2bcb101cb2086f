#pragma once

#include <vector>

#include "bench/BenchHarness.h"

namespace devicescan::bench {

struct RegisteredGroup {
    const char* name;
    BenchmarkFunction function;
};

// Every group registered with BENCHMARK_GROUP, in registration order.
inline std::vector<RegisteredGroup>& Registry() {
    static std::vector<RegisteredGroup> groups;
    return groups;
}

}  // namespace devicescan::bench
