// The library's entry point and its exports; each export hands over to the one Logger.
#include <windows.h>

#include <new>

#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
// The address the export returns to: in the module that called it.
#define LOG_CALLER_ADDRESS() _ReturnAddress()
#else
#define LOG_CALLER_ADDRESS() __builtin_return_address(0)
#endif

#include "log/Logger.h"
#include "logging/LogApi.h"

namespace {

// Created when the library is loaded, destroyed when it is unloaded; null only when it could
// not be allocated, and then every export does nothing.
devicescan::logdll::Logger* logger = nullptr;

// The module whose code called the export that calls this.
HMODULE ModuleAt(void* address) {
    HMODULE module = nullptr;
    GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        static_cast<LPCWSTR>(address), &module);
    return module;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    // Thread notifications stay on: the statically linked runtime frees per-thread data on them.
    if (reason == DLL_PROCESS_ATTACH) {
        logger = new (std::nothrow) devicescan::logdll::Logger(instance);
        return TRUE;
    }
    if (reason != DLL_PROCESS_DETACH || logger == nullptr) {
        return TRUE;
    }
    if (reserved != nullptr) {
        // The process is ending: the other threads are gone, and freeing memory is pointless.
        logger->FlushAtProcessExit();
        return TRUE;
    }
    delete logger;
    logger = nullptr;
    return TRUE;
}

extern "C" {

void LogInit(void) {
    if (logger != nullptr) {
        logger->Init();
    }
}

void LogDeinit(void) {
    if (logger != nullptr) {
        logger->Deinit();
    }
}

HRESULT LogWrite(uint32_t depth, const uint32_t* severity, HMODULE module, const wchar_t* function,
                 const wchar_t* format, va_list args) {
    if (logger == nullptr) {
        return E_OUTOFMEMORY;
    }
    return logger->Write(depth, severity, module, function, format, args);
}

void LogUninitTelemetry(void) {
    if (logger != nullptr) {
        logger->Flush();
    }
}

void LogRemoveModule(const char*) {
    if (logger != nullptr) {
        logger->Flush();
    }
}

HRESULT LogApplySettings(void) {
    return logger != nullptr ? logger->ApplySettings() : E_OUTOFMEMORY;
}

HRESULT LogSetSettingsFile(const wchar_t* path) {
    return logger != nullptr ? logger->SetSettingsFile(path) : E_OUTOFMEMORY;
}

void LogEnable(BOOL enable) {
    if (logger != nullptr) {
        logger->Enable(enable != FALSE);
    }
}

void LogSetLevel(uint32_t level) {
    if (logger != nullptr) {
        logger->SetLevel(level);
    }
}

HRESULT LogSetPath(const wchar_t* path) {
    return logger != nullptr ? logger->SetPath(path) : E_OUTOFMEMORY;
}

HRESULT LogSetType(uint32_t type) {
    return logger != nullptr ? logger->SetType(type) : E_OUTOFMEMORY;
}

HRESULT LogSetMode(uint32_t mode) {
    return logger != nullptr ? logger->SetMode(mode) : E_OUTOFMEMORY;
}

HRESULT LogSetMaxSize(uint64_t bytes) {
    return logger != nullptr ? logger->SetMaxSize(bytes) : E_OUTOFMEMORY;
}

void LogSetDepth(uint32_t depth) {
    if (logger != nullptr) {
        logger->SetDepth(depth);
    }
}

BOOL LogIsEnabled(void) {
    return logger != nullptr && logger->IsEnabled() ? TRUE : FALSE;
}

void LogMonitorSettings(BOOL enable) {
    if (logger != nullptr) {
        logger->MonitorSettings(enable != FALSE);
    }
}

uint32_t LogGetLevel(void) {
    return logger != nullptr ? logger->GetLevel() : 0;
}

HRESULT LogTrackEvent(const wchar_t* name) {
    if (logger == nullptr) {
        return E_OUTOFMEMORY;
    }
    return logger->WriteEvent(ModuleAt(LOG_CALLER_ADDRESS()), name, nullptr);
}

HRESULT LogTrackEventData(const wchar_t* name, const wchar_t* data) {
    if (logger == nullptr) {
        return E_OUTOFMEMORY;
    }
    return logger->WriteEvent(ModuleAt(LOG_CALLER_ADDRESS()), name, data);
}

}  // extern "C"
