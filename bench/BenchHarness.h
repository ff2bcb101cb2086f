#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace devicescan::bench {

// How long each measurement runs: a smoke run for the test command, or the full run for reports.
enum class Mode { kQuick, kFull };

// The spread of repeated runs of one measurement, in ns per operation.
struct Spread {
    double minimum = 0;
    double median = 0;
};

// Repeated runs of our side and its peer, taken in turn.
struct SideBySide {
    Spread ours;
    Spread peer;
};

// One benchmark group. It measures our implementation and its standard or platform peer doing
// the same work, and reports each pair as a ratio.
class Context {
  public:
    explicit Context(Mode mode) : mode(mode) {}

    Mode GetMode() const { return mode; }

    // Nanoseconds per operation of body(n), which performs n operations. Repeats with growing n
    // until a run lasts long enough, and keeps the best of a few runs.
    double NsPerOp(const std::function<void(std::size_t)>& body) const;

    // Times ours and peer (each body(n) performs n operations) alternately, a fixed number of
    // repetitions each (at least five in a full run), after sizing n so that a run lasts long
    // enough. Load from other processes then falls on both sides alike, and the spread shows.
    SideBySide Repeat(const std::function<void(std::size_t)>& ours,
                      const std::function<void(std::size_t)>& peer) const;

    // The same for operations of a millisecond or more, timed one at a time: each repetition
    // alternates single operations of the two sides and counts the median of each side's, so a
    // burst of load from elsewhere, which lands on a few operations of either side, moves
    // neither figure.
    SideBySide RepeatEach(const std::function<void(std::size_t)>& ours,
                          const std::function<void(std::size_t)>& peer) const;

    // Prints a goal row: both spreads and the ratios of their minimums and medians, and whether
    // the ratio of the minimums is at most limit. Returns whether it is.
    bool Goal(const std::string& what, const std::string& ours, const std::string& peer,
              const SideBySide& times, double limit) const;
    // Prints a goal row that is not a ratio: the measured figure and whether it is met.
    bool Goal(const std::string& what, const std::string& figure, const std::string& limit,
              bool met) const;

    // Prints one row: what, our time, the peer's time and ours divided by the peer's.
    void Compare(const std::string& what, const std::string& ours, double oursNs,
                 const std::string& peer, double peerNs) const;
    // Prints a row without a peer.
    void Report(const std::string& what, double ns) const;
    // Prints a row with a figure that is not a time.
    void Note(const std::string& what, const std::string& figure) const;

  private:
    // Operations per run such that one run of body lasts at least the mode's minimum.
    std::size_t Calibrate(const std::function<void(std::size_t)>& body) const;

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
