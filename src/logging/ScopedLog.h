#pragma once

#include <cstdarg>
#include <cstdint>

#include "logging/CLogDLL.h"
#include "logging/LogRef.h"
#include "logging/ModuleHandle.h"

namespace devicescan::logging {

// The shared log held for writing records from one scope: a reference is taken when the scope
// begins (loading the library when nobody holds one) and given back when it ends. Records carry
// this module's handle; when the instance could not be allocated they are dropped.
//
// Threads: belongs to the thread whose stack holds it.
class ScopedLog {
  public:
    ScopedLog() noexcept {
        ref.Acquire();
        log = ref.Get();
    }
    ScopedLog(const ScopedLog&) = delete;
    ScopedLog& operator=(const ScopedLog&) = delete;

    void Write(std::uint16_t depth, std::uint32_t severity, const wchar_t* function,
               const wchar_t* format, ...) const noexcept {
        va_list args;
        va_start(args, format);
        WriteArgs(depth, severity, function, format, args);
        va_end(args);
    }

    void WriteArgs(std::uint16_t depth, std::uint32_t severity, const wchar_t* function,
                   const wchar_t* format, va_list args) const noexcept {
        if (log != nullptr) {
            log->WriteArgs(depth, &severity, ThisModule(), function, format, args);
        }
    }

  private:
    LogRef ref;
    const CLogDLL* log = nullptr;
};

}  // namespace devicescan::logging
