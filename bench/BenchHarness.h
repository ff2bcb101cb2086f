#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace devicescan::bench {

// How long each measurement runs: a smoke run for the test command, or the full run for reports.
enum class Mode { kQuick, kFull };

// One benchmark group. It measures our implementation and its standard or platform peer doing
// the same work, and reports each pair as a ratio.
class Context {
  public:
    explicit Context(Mode mode) : mode(mode) {}

    Mode GetMode() const { return mode; }

    // Nanoseconds per operation of body(n), which performs n operations. Repeats with growing n
    // until a run lasts long enough, and keeps the best of a few runs.
    double NsPerOp(const std::function<void(std::size_t)>& body) const;

    // Prints one row: what, our time, the peer's time and ours divided by the peer's.
    void Compare(const std::string& what, const std::string& ours, double oursNs,
                 const std::string& peer, double peerNs) const;
    // Prints a row without a peer.
    void Report(const std::string& what, double ns) const;

  private:
    Mode mode;
};

using BenchmarkFunction = void (*)(Context&);

// Registers a benchmark group at static-initialisation time; see BENCHMARK_GROUP.
struct Registration {
    Registration(const char* name, BenchmarkFunction function);
};

}  // namespace devicescan::bench

#define BENCHMARK_GROUP(name)                                          \
    static void name(bench::Context& context);                         \
    static const bench::Registration name##Registration(#name, &name); \
    static void name(bench::Context& context)
