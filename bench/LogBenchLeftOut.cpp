// Stands in for LogBench.cpp in a build without the spdlog and fmt headers: the group is named
// in the output, with the reason it has no rows.
#include "bench/BenchRegistry.h"

namespace devicescan::bench {

BENCHMARK_GROUP(LogWriteThroughput) {
    context.Note("log.dll against spdlog", "left out: built without the spdlog and fmt headers");
}

}  // namespace devicescan::bench
