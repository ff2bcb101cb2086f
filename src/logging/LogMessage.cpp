#include "logging/LogMessage.h"

#include <cstdarg>

#include "logging/LogApi.h"
#include "logging/LogRef.h"
#include "logging/ScopedLog.h"

namespace devicescan::logging {

void LogMessage(std::uint32_t severity, const wchar_t* function, const wchar_t* format,
                ...) noexcept {
    // One unlocked read: nothing is written, and nothing loaded, while nobody holds a reference.
    if (LogRef::UserCount() == 0) {
        return;
    }
    const ScopedLog log;
    va_list args;
    va_start(args, format);
    log.WriteArgs(kDepthMessage, severity, function, format, args);
    va_end(args);
}

}  // namespace devicescan::logging
