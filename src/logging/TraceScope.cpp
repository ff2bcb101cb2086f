#include "logging/TraceScope.h"

#include <windows.h>
// After windows.h: the multimedia timer (timeGetTime), which WIN32_LEAN_AND_MEAN leaves out.
#include <mmsystem.h>

#include <cwchar>

#include "logging/LogApi.h"
#include "logging/ScopedLog.h"

namespace devicescan::logging {

TraceScope::TraceScope(const wchar_t* name) noexcept : startTime(timeGetTime()) {
    if (name == nullptr) {
        name = L"";
    }
    // Room for 257 characters, so that "()" still fits in the array.
    wcsncpy_s(displayName, kNameCapacity - 2, name, _TRUNCATE);
    wcscat_s(displayName, kNameCapacity, L"()");
    wcsncpy_s(functionName, kNameCapacity, name, _TRUNCATE);

    const ScopedLog log;
    log.Write(kDepthEnter, LOG_INFO, functionName, L"-> %s", displayName);
}

TraceScope::~TraceScope() {
    const ScopedLog log;
    // Unsigned arithmetic: still the interval when the millisecond counter wraps in between.
    const std::uint32_t elapsed = timeGetTime() - startTime;
    log.Write(kDepthLeave, LOG_INFO, functionName, L"<- %s [%d]", displayName, elapsed);
}

}  // namespace devicescan::logging
