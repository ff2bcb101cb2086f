#pragma once

#include <windows.h>

#include <cstdint>

#include "logging/CLogDLL.h"

namespace logging {

// A counted reference on the process-wide CLogDLL, given back when it goes out of scope. The
// first reference taken in the process creates the instance (loading log.dll); giving back the
// last one destroys it (unloading the library).
//
// Threads: any thread may take and give back references. instanceLock (a spin lock) guards the
// shared instance pointer and userCount, and the library is loaded and unloaded while it is
// held. Each LogRef's own count changes only atomically. Records are written outside the lock:
// a writer holds a reference, so the instance cannot go away under it.
class LogRef {
  public:
    LogRef() = default;
    ~LogRef() { Release(); }
    LogRef(const LogRef&) = delete;
    LogRef& operator=(const LogRef&) = delete;

    // Takes one reference on the shared instance, creating it when nobody holds one.
    void Acquire() noexcept;
    // Gives back every reference this LogRef holds.
    void Release() noexcept;
    // The shared instance; takes a reference first when this LogRef holds none. Null only when
    // the instance could not be allocated.
    CLogDLL* Get() noexcept;

    // References held by all LogRefs of this module together; read without the lock.
    static std::int32_t UserCount() noexcept;

  private:
    CLogDLL* instance = nullptr;
    volatile LONG count = 0;
};

}  // namespace logging
