// src/logging/ is the module's side of logging: the run-time binding of log.dll (this file),
// the shared hold of it (LogRef), trace scopes and log messages, and LogApi.h, the interface of
// log.dll itself.
#include "logging/CLogDLL.h"

#include <cwchar>
#include <memory>
#include <new>

#include "logging/ModuleHandle.h"
#include "sdk/PathCapacity.h"
#include "sdk/ProcAddress.h"

namespace devicescan::logging {
namespace {

// The full path of log.dll beside this module, into path; false when this module's own path is
// unknown or has no directory part.
bool LibraryPathBesideThisModule(wchar_t* path) noexcept {
    if (GetModuleFileNameW(ThisModule(), path, qv::kPathCapacity) == 0) {
        return false;
    }
    wchar_t* lastBackslash = std::wcsrchr(path, L'\\');
    if (lastBackslash == nullptr) {
        return false;
    }
    const auto room = static_cast<rsize_t>(qv::kPathCapacity - (lastBackslash - path));
    return wcscpy_s(lastBackslash, room, L"\\log.dll") == 0;
}

}  // namespace

CLogDLL::CLogDLL() noexcept {
    library = ObtainLibrary();
    if (library == nullptr) {
        logWrite = &FallbackLogWrite;
        return;
    }
    Bind();
}

CLogDLL::~CLogDLL() {
    if (library == nullptr) {
        return;
    }
    if (const auto logDeinit = qv::GetProcAddressAs<LogDeinitFunction>(library, "LogDeinit")) {
        logDeinit();
    }
    if (logUninitTelemetry != nullptr) {
        logUninitTelemetry();
    }
    if (logRemoveModule != nullptr) {
        logRemoveModule("logging::CLogDLL::~CLogDLL");
    }
    FreeLibrary(library);
}

// A library already loaded under the name is shared (and its count raised); otherwise only the
// copy beside this module is loaded. Never the search path: a log.dll planted in the current
// or a system directory must not be run.
HMODULE CLogDLL::ObtainLibrary() noexcept {
    HMODULE loaded = nullptr;
    if (GetModuleHandleExW(0, L"log.dll", &loaded) && loaded != nullptr) {
        return loaded;
    }
    const std::unique_ptr<wchar_t[]> path(new (std::nothrow) wchar_t[qv::kPathCapacity]());
    if (path == nullptr || !LibraryPathBesideThisModule(path.get())) {
        return nullptr;
    }
    return LoadLibraryW(path.get());
}

void CLogDLL::Bind() noexcept {
    if (const auto logInit = qv::GetProcAddressAs<LogInitFunction>(library, "LogInit")) {
        logInit();
    }
    logApplySettings = GetProcAddress(library, "LogApplySettings");
    logSetSettingsFile = GetProcAddress(library, "LogSetSettingsFile");
    logEnable = GetProcAddress(library, "LogEnable");
    logSetLevel = GetProcAddress(library, "LogSetLevel");
    logSetPath = GetProcAddress(library, "LogSetPath");
    logSetType = GetProcAddress(library, "LogSetType");
    logSetMode = GetProcAddress(library, "LogSetMode");
    logSetMaxSize = GetProcAddress(library, "LogSetMaxSize");
    logSetDepth = GetProcAddress(library, "LogSetDepth");
    logWrite = qv::GetProcAddressAs<LogWriteFunction>(library, "LogWrite");
    logIsEnabled = GetProcAddress(library, "LogIsEnabled");
    logMonitorSettings = GetProcAddress(library, "LogMonitorSettings");
    logGetLevel = GetProcAddress(library, "LogGetLevel");
    logUninitTelemetry =
        qv::GetProcAddressAs<LogUninitTelemetryFunction>(library, "LogUninitTelemetry");
    logTrackEvent = GetProcAddress(library, "LogTrackEvent");
    logTrackEventData = GetProcAddress(library, "LogTrackEventData");
    logRemoveModule = qv::GetProcAddressAs<LogRemoveModuleFunction>(library, "LogRemoveModule");
    if (logWrite == nullptr) {
        logWrite = &FallbackLogWrite;
    }
}

void CLogDLL::WriteArgs(std::uint16_t depth, const std::uint32_t* severity, HMODULE module,
                        const wchar_t* function, const wchar_t* format,
                        va_list args) const noexcept {
    logWrite(depth, severity, module, function, format, args);
}

HRESULT CLogDLL::FallbackLogWrite(std::uint32_t, const std::uint32_t*, HMODULE, const wchar_t*,
                                  const wchar_t*, va_list) noexcept {
    return E_NOINTERFACE;
}

}  // namespace devicescan::logging
