#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstdint>

#include "logging/LogApi.h"

namespace devicescan::logging {

// The run-time binding to the logging library "log.dll". The module does not link against the
// library: it takes one already loaded under that name, or loads it from the module's own
// directory only, resolves its exports by name and forwards every record to its LogWrite. A
// missing library, or one without LogWrite, leaves a fallback that writes nothing.
//
// Threads: one instance is shared by the whole process through LogRef, which creates and
// destroys it under instanceLock. Write may be called from any thread while the caller holds a
// reference; the library must accept concurrent writes.
class CLogDLL {
  public:
    // Loads and binds; never fails (a missing library leaves the instance unbound).
    CLogDLL() noexcept;
    // Tells the library it is being left, then unloads it.
    ~CLogDLL();
    CLogDLL(const CLogDLL&) = delete;
    CLogDLL& operator=(const CLogDLL&) = delete;

    // Forwards one record to LogWrite; the library's result is not used.
    void WriteArgs(std::uint16_t depth, const std::uint32_t* severity, HMODULE module,
                   const wchar_t* function, const wchar_t* format, va_list args) const noexcept;

    // Stands in for a missing LogWrite: writes nothing and answers E_NOINTERFACE.
    static HRESULT FallbackLogWrite(std::uint32_t depth, const std::uint32_t* severity,
                                    HMODULE module, const wchar_t* function, const wchar_t* format,
                                    va_list args) noexcept;

  private:
    static HMODULE ObtainLibrary() noexcept;
    void Bind() noexcept;

    // One pointer-sized value each, in this order; an export the library lacks stays null.
    HMODULE library = nullptr;
    FARPROC logApplySettings = nullptr;
    FARPROC logSetSettingsFile = nullptr;
    FARPROC logEnable = nullptr;
    FARPROC logSetLevel = nullptr;
    FARPROC logSetPath = nullptr;
    FARPROC logSetType = nullptr;
    FARPROC logSetMode = nullptr;
    FARPROC logSetMaxSize = nullptr;
    FARPROC logSetDepth = nullptr;
    LogWriteFunction logWrite = nullptr;
    FARPROC logIsEnabled = nullptr;
    FARPROC logMonitorSettings = nullptr;
    LogUninitTelemetryFunction logUninitTelemetry = nullptr;
    FARPROC logTrackEvent = nullptr;
    FARPROC logTrackEventData = nullptr;
    LogRemoveModuleFunction logRemoveModule = nullptr;
    FARPROC logGetLevel = nullptr;
};

}  // namespace devicescan::logging
