// The logging code under test, in a DLL of its own so that "this module's directory" is a test
// folder: copies of this DLL sit in folders with different stand-ins for log.dll beside them.
// Plain C exports that the binding tests call, on two references of this module.
#include <windows.h>

#include <stdexcept>

#include "logging/LogApi.h"
#include "logging/LogMessage.h"
#include "logging/LogRef.h"
#include "logging/TraceScope.h"

namespace {

devicescan::logging::LogRef refs[2];

}  // namespace

extern "C" {

__declspec(dllexport) void ProbeAcquire(int ref) {
    refs[ref].Acquire();
}
__declspec(dllexport) void ProbeRelease(int ref) {
    refs[ref].Release();
}

// An operation traced under name: writes message (when not null) from inside and, when
// throwAfterMs is not 0, throws after spending that long; the exception is caught outside the
// scope.
__declspec(dllexport) void ProbeOperation(const wchar_t* name, const wchar_t* message,
                                          DWORD throwAfterMs) {
    try {
        devicescan::logging::TraceScope scope(name);
        if (message != nullptr) {
            devicescan::logging::LogMessage(devicescan::logging::LOG_WARNING, name,
                                            L"%s [error = %d]", message, 5);
        }
        if (throwAfterMs != 0) {
            Sleep(throwAfterMs);
            throw std::runtime_error("operation failed");
        }
    } catch (const std::runtime_error&) {
    }
}

__declspec(dllexport) void ProbeMessage(const wchar_t* text) {
    devicescan::logging::LogMessage(devicescan::logging::LOG_ERROR, L"Probe", L"%s", text);
}

}  // extern "C"
