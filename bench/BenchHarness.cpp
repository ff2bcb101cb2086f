#include "bench/BenchHarness.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "bench/BenchRegistry.h"

namespace devicescan::bench {
namespace {

double NowNs() {
    static const double ticksPerNs = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return static_cast<double>(frequency.QuadPart) / 1e9;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / ticksPerNs;
}

}  // namespace

double Context::NsPerOp(const std::function<void(std::size_t)>& body) const {
    const double minimumRunNs = mode == Mode::kQuick ? 2e6 : 50e6;
    const int runs = mode == Mode::kQuick ? 1 : 5;
    std::size_t iterations = 1;
    double best = 0;
    for (;;) {
        const double start = NowNs();
        body(iterations);
        const double elapsed = NowNs() - start;
        if (elapsed >= minimumRunNs || iterations >= (std::size_t{1} << 40)) {
            best = elapsed / static_cast<double>(iterations);
            break;
        }
        iterations *= elapsed < minimumRunNs / 16 ? 8 : 2;
    }
    for (int run = 1; run < runs; ++run) {
        const double start = NowNs();
        body(iterations);
        best = std::min(best, (NowNs() - start) / static_cast<double>(iterations));
    }
    return best;
}

void Context::Compare(const std::string& what, const std::string& ours, double oursNs,
                      const std::string& peer, double peerNs) const {
    std::printf("  %-44s %-16s %10.1f ns  %-24s %10.1f ns  ratio %5.2f\n", what.c_str(),
                ours.c_str(), oursNs, peer.c_str(), peerNs, peerNs > 0 ? oursNs / peerNs : 0.0);
}

void Context::Report(const std::string& what, double ns) const {
    std::printf("  %-44s %10.1f ns\n", what.c_str(), ns);
}

Registration::Registration(const char* name, BenchmarkFunction function) {
    Registry().push_back({name, function});
}

}  // namespace devicescan::bench
