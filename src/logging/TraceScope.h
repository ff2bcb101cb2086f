#pragma once

#include <cstdint>

namespace devicescan::logging {

// Traces one call of an operation: writes "-> Name()" when created and "<- Name() [ms]" with
// the milliseconds spent when destroyed, also while an exception unwinds. Both lines always
// reach the library: with no reference held anywhere, each line loads it for its own time.
// Lives on the stack of the traced operation and uses no heap memory.
//
// Threads: a scope belongs to the thread whose stack holds it.
class TraceScope {
  public:
    explicit TraceScope(const wchar_t* name) noexcept;
    ~TraceScope();
    TraceScope(const TraceScope&) = delete;
    TraceScope& operator=(const TraceScope&) = delete;

  private:
    static constexpr unsigned kNameCapacity = 260;

    std::uint32_t startTime;
    wchar_t displayName[kNameCapacity];   // the name and "()", truncated to fit
    wchar_t functionName[kNameCapacity];  // the name, truncated to fit
};

}  // namespace devicescan::logging
