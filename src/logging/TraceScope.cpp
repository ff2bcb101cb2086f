#include "logging/TraceScope.h"

#include <windows.h>
// After windows.h: the multimedia timer (timeGetTime), which WIN32_LEAN_AND_MEAN leaves out.
#include <mmsystem.h>

#include <cwchar>

#include "logging/LogRef.h"
#include "logging/ModuleHandle.h"
#include "logging/Severity.h"

namespace logging {
namespace {

constexpr std::uint16_t kEnterDepth = 1;
constexpr std::uint16_t kLeaveDepth = 0xFFFF;  // -1 as a 16-bit value

}  // namespace

TraceScope::TraceScope(const wchar_t* name) noexcept : startTime(timeGetTime()) {
    if (name == nullptr) {
        name = L"";
    }
    // Room for 257 characters, so that "()" still fits in the array.
    wcsncpy_s(displayName, kNameCapacity - 2, name, _TRUNCATE);
    wcscat_s(displayName, kNameCapacity, L"()");
    wcsncpy_s(functionName, kNameCapacity, name, _TRUNCATE);

    LogRef ref;
    ref.Acquire();
    const std::uint32_t severity = LOG_INFO;
    if (const CLogDLL* log = ref.Get()) {
        log->Write(kEnterDepth, &severity, ThisModule(), functionName, L"-> %s", displayName);
    }
    ref.Release();
}

TraceScope::~TraceScope() {
    LogRef ref;
    ref.Acquire();
    const CLogDLL* log = ref.Get();
    // Unsigned arithmetic: still the interval when the millisecond counter wraps in between.
    const std::uint32_t elapsed = timeGetTime() - startTime;
    const std::uint32_t severity = LOG_INFO;
    if (log != nullptr) {
        log->Write(kLeaveDepth, &severity, ThisModule(), functionName, L"<- %s [%d]", displayName,
                   elapsed);
    }
    ref.Release();
}

}  // namespace logging
