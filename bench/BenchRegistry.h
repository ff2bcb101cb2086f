#pragma once

#include <vector>

#include "BenchHarness.h"

namespace bench {

struct RegisteredGroup {
    const char* name;
    BenchmarkFunction function;
};

// Every group registered with BENCHMARK_GROUP, in registration order.
inline std::vector<RegisteredGroup>& Registry() {
    static std::vector<RegisteredGroup> groups;
    return groups;
}

}  // namespace bench
