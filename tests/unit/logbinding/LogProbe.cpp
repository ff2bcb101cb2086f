// The logging code under test, in a DLL of its own so that "this module's directory" is a test
// folder: copies of this DLL sit in folders with different stand-ins for log.dll beside them.
// Plain C exports that the binding tests call.
#include <windows.h>

#include <cstdint>
#include <stdexcept>

#include "LogMessage.h"
#include "LogRef.h"
#include "ModuleHandle.h"
#include "Severity.h"
#include "TraceScope.h"

using logging::LogRef;

namespace {

std::int32_t CallWrite(logging::CLogDLL::LogWriteFunction write, const wchar_t* format, ...) {
    const std::uint32_t severity = logging::LOG_INFO;
    va_list args;
    va_start(args, format);
    const std::int32_t result =
        write(0, &severity, logging::ThisModule(), L"ProbeWriteResult", format, args);
    va_end(args);
    return result;
}

}  // namespace

extern "C" {

__declspec(dllexport) LogRef* ProbeNewRef() {
    return new LogRef();
}
__declspec(dllexport) void ProbeDeleteRef(LogRef* ref) {
    delete ref;
}
__declspec(dllexport) void ProbeAcquire(LogRef* ref) {
    ref->Acquire();
}
__declspec(dllexport) void ProbeRelease(LogRef* ref) {
    ref->Release();
}
__declspec(dllexport) void ProbeGet(LogRef* ref) {
    ref->Get();
}
__declspec(dllexport) std::int32_t ProbeUserCount() {
    return LogRef::UserCount();
}

// The library the reference's instance is bound to (null: the fallback); takes a reference when
// ref holds none.
__declspec(dllexport) HMODULE ProbeLibrary(LogRef* ref) {
    return ref->Get()->Library();
}

// What the instance's LogWrite answers for one record.
__declspec(dllexport) std::int32_t ProbeWriteResult(LogRef* ref) {
    return CallWrite(ref->Get()->WriteFunction(), L"%s", L"text");
}

// An operation traced under name: writes message (when not null) from inside, spends
// sleepMs, and throws when told to; the exception is caught outside the scope.
__declspec(dllexport) void ProbeOperation(const wchar_t* name, const wchar_t* message,
                                          DWORD sleepMs, BOOL throwInside) {
    try {
        logging::TraceScope scope(name);
        if (message != nullptr) {
            logging::LogMessage(logging::LOG_WARNING, name, L"%s [error = %d]", message, 5);
        }
        Sleep(sleepMs);
        if (throwInside) {
            throw std::runtime_error("operation failed");
        }
    } catch (const std::runtime_error&) {
    }
}

__declspec(dllexport) void ProbeMessage(std::uint32_t severity, const wchar_t* function,
                                        const wchar_t* text) {
    logging::LogMessage(severity, function, L"%s", text);
}

}  // extern "C"
