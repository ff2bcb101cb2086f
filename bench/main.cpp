// The benchmark program. Each group compares our implementation with its standard or platform
// peer in the same run and prints the ratio (ours / peer: below 1 is faster).
//
//   devicescan-bench [--quick] [group-name ...]
//
// --quick runs every measurement briefly (the test command's smoke run); without it, the full
// measurements of the performance report.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/BenchRegistry.h"

int main(int argc, char** argv) {
    namespace bench = devicescan::bench;
    bench::Mode mode = bench::Mode::kFull;
    std::vector<std::string> only;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) {
            mode = bench::Mode::kQuick;
        } else {
            only.emplace_back(argv[i]);
        }
    }
    std::printf("devicescan-bench (%s)\n", mode == bench::Mode::kQuick ? "quick" : "full");
    bench::Context context(mode);
    int ran = 0;
    for (const auto& group : bench::Registry()) {
        if (!only.empty() && std::find(only.begin(), only.end(), group.name) == only.end()) {
            continue;
        }
        std::printf("%s\n", group.name);
        group.function(context);
        std::fflush(stdout);
        ++ran;
    }
    if (!only.empty() && ran == 0) {
        std::fprintf(stderr, "no benchmark group matches\n");
        return 2;
    }
    return 0;
}
