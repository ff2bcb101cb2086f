#include "logging/LogMessage.h"

#include <cstdarg>

#include "logging/LogRef.h"
#include "logging/ModuleHandle.h"

namespace logging {

void LogMessage(std::uint32_t severity, const wchar_t* function, const wchar_t* format,
                ...) noexcept {
    // One unlocked read: nothing is written, and nothing loaded, while nobody holds a reference.
    if (LogRef::UserCount() == 0) {
        return;
    }
    LogRef ref;
    ref.Acquire();
    const CLogDLL* log = ref.Get();
    const std::uint32_t value = severity;
    if (log != nullptr) {
        va_list args;
        va_start(args, format);
        log->WriteArgs(0, &value, ThisModule(), function, format, args);
        va_end(args);
    }
    ref.Release();
}

}  // namespace logging
