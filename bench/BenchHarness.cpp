#include "bench/BenchHarness.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <limits>
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

double RunNs(const std::function<void(std::size_t)>& body, std::size_t iterations) {
    const double start = NowNs();
    body(iterations);
    return NowNs() - start;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

Spread SpreadOf(const std::vector<double>& values) {
    return {*std::min_element(values.begin(), values.end()), Median(values)};
}

// A time with a unit that keeps three or four digits.
std::string Readable(double ns) {
    char text[32];
    if (ns >= 1e6) {
        std::snprintf(text, sizeof(text), "%.2f ms", ns / 1e6);
    } else if (ns >= 1e4) {
        std::snprintf(text, sizeof(text), "%.1f us", ns / 1e3);
    } else {
        std::snprintf(text, sizeof(text), "%.1f ns", ns);
    }
    return text;
}

}  // namespace

std::size_t Context::Calibrate(const std::function<void(std::size_t)>& body) const {
    const double minimumRunNs = mode == Mode::kQuick ? 2e6 : 50e6;
    std::size_t iterations = 1;
    for (;;) {
        const double elapsed = RunNs(body, iterations);
        if (elapsed >= minimumRunNs || iterations >= (std::size_t{1} << 40)) {
            return iterations;
        }
        iterations *= elapsed < minimumRunNs / 16 ? 8 : 2;
    }
}

double Context::NsPerOp(const std::function<void(std::size_t)>& body) const {
    const std::size_t iterations = Calibrate(body);
    const int runs = mode == Mode::kQuick ? 1 : 4;
    double best = std::numeric_limits<double>::max();
    for (int run = 0; run < runs; ++run) {
        best = std::min(best, RunNs(body, iterations) / static_cast<double>(iterations));
    }
    return best;
}

SideBySide Context::Repeat(const std::function<void(std::size_t)>& ours,
                           const std::function<void(std::size_t)>& peer) const {
    const int repetitions = mode == Mode::kQuick ? 1 : 7;
    // Each repetition runs the two sides in turn in slices, so that a change of load during a
    // repetition falls on both.
    constexpr std::size_t kSlices = 8;
    const std::size_t oursSlice = std::max<std::size_t>(1, Calibrate(ours) / kSlices);
    const std::size_t peerSlice = std::max<std::size_t>(1, Calibrate(peer) / kSlices);
    std::vector<double> oursTimes;
    std::vector<double> peerTimes;
    for (int repetition = 0; repetition < repetitions; ++repetition) {
        double oursNs = 0;
        double peerNs = 0;
        for (std::size_t slice = 0; slice < kSlices; ++slice) {
            oursNs += RunNs(ours, oursSlice);
            peerNs += RunNs(peer, peerSlice);
        }
        oursTimes.push_back(oursNs / static_cast<double>(oursSlice * kSlices));
        peerTimes.push_back(peerNs / static_cast<double>(peerSlice * kSlices));
    }
    return {SpreadOf(oursTimes), SpreadOf(peerTimes)};
}

SideBySide Context::RepeatEach(const std::function<void(std::size_t)>& ours,
                               const std::function<void(std::size_t)>& peer) const {
    const int repetitions = mode == Mode::kQuick ? 1 : 7;
    const std::size_t operations = mode == Mode::kQuick ? 5 : 200;
    std::vector<double> oursTimes;
    std::vector<double> peerTimes;
    std::vector<double> oursEach(operations);
    std::vector<double> peerEach(operations);
    for (int repetition = 0; repetition < repetitions; ++repetition) {
        for (std::size_t operation = 0; operation < operations; ++operation) {
            oursEach[operation] = RunNs(ours, 1);
            peerEach[operation] = RunNs(peer, 1);
        }
        oursTimes.push_back(Median(oursEach));
        peerTimes.push_back(Median(peerEach));
    }
    return {SpreadOf(oursTimes), SpreadOf(peerTimes)};
}

bool Context::Goal(const std::string& what, const std::string& ours, const std::string& peer,
                   const SideBySide& times, double limit) const {
    const double ratio = times.peer.minimum > 0 ? times.ours.minimum / times.peer.minimum : 0;
    const double medianRatio = times.peer.median > 0 ? times.ours.median / times.peer.median : 0;
    const bool met = ratio > 0 && ratio <= limit;
    std::printf("  %-48s  ratio %5.2f (median %5.2f), goal <= %.2f: %s\n", what.c_str(), ratio,
                medianRatio, limit, met ? "met" : "MISSED");
    std::printf("  %-48s  %s min %s median %s; %s min %s median %s\n", "", ours.c_str(),
                Readable(times.ours.minimum).c_str(), Readable(times.ours.median).c_str(),
                peer.c_str(), Readable(times.peer.minimum).c_str(),
                Readable(times.peer.median).c_str());
    return met;
}

bool Context::Goal(const std::string& what, const std::string& figure, const std::string& limit,
                   bool met) const {
    std::printf("  %-48s  %s, goal %s: %s\n", what.c_str(), figure.c_str(), limit.c_str(),
                met ? "met" : "MISSED");
    return met;
}

void Context::Compare(const std::string& what, const std::string& ours, double oursNs,
                      const std::string& peer, double peerNs) const {
    std::printf("  %-48s  %-16s %10.1f ns  %-24s %10.1f ns  ratio %5.2f\n", what.c_str(),
                ours.c_str(), oursNs, peer.c_str(), peerNs, peerNs > 0 ? oursNs / peerNs : 0.0);
}

void Context::Note(const std::string& what, const std::string& figure) const {
    std::printf("  %-48s  %s\n", what.c_str(), figure.c_str());
}

void Context::Report(const std::string& what, double ns) const {
    std::printf("  %-48s  %10.1f ns\n", what.c_str(), ns);
}

Registration::Registration(const char* name, BenchmarkFunction function) {
    Registry().push_back({name, function});
}

}  // namespace devicescan::bench
