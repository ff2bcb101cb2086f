// The window thread of DeviceScanSP and its invisible window: everything here runs on that thread.
#include <windows.h>

#include "devicescan/DeviceScanSP.h"
#include "logging/LogApi.h"
#include "logging/LogMessage.h"
#include "logging/LogRef.h"
#include "logging/TraceScope.h"
#include "sdk/ResultCodes.h"
#include "sdk/StringT.h"

namespace devicescan::service {

using logging::LOG_ERROR;
using logging::LOG_INFO;
using logging::LOG_WARNING;
using logging::LogMessage;

namespace {

constexpr wchar_t kWindowThreadRoutine[] = L"DeviceScanSP::WindowThreadRoutine";
constexpr wchar_t kInitWindowInstance[] = L"DeviceScanSP::InitWindowInstance";
constexpr wchar_t kUninitWindowInstance[] = L"DeviceScanSP::UninitWindowInstance";

// The last-error code of a call that failed, never 0: a failure must not read as success.
DWORD LastErrorOr(DWORD fallback) {
    const DWORD error = GetLastError();
    return error != 0 ? error : fallback;
}

// The name of the user the thread runs as; empty when there is none or it cannot be read.
qv::String ThreadUserName() {
    qv::String user;
    DWORD needed = 0;
    GetUserNameW(nullptr, &needed);
    if (needed == 0) {
        return user;
    }
    if (!user.Preallocate(64) || !user.EnsureCapacity(needed)) {
        return qv::String();
    }
    DWORD size = static_cast<DWORD>(user.GetCapacity()) + 1;
    if (!GetUserNameW(user.GetBuffer(), &size)) {
        // The name changed between the two calls: the buffer holds no name.
        user.GetBuffer()[0] = L'\0';
    }
    user.ReleaseBuffer();
    return user;
}

// Written only while the shared log binding is alive; otherwise nothing is even read.
void LogThreadContext() {
    if (logging::LogRef::UserCount() == 0) {
        return;
    }
    const qv::String user = ThreadUserName();
    LogMessage(LOG_INFO, kWindowThreadRoutine, L"thread context [user = %s] [pid = %d] [tid = %d]",
               user.GetString(), GetCurrentProcessId(), GetCurrentThreadId());
}

}  // namespace

DWORD WINAPI DeviceScanSP::WindowThreadRoutine(void* parameter) {
    LogThreadContext();
    auto* self = static_cast<DeviceScanSP*>(parameter);
    if (self == nullptr) {
        return qv::kResultInvalidParameter;
    }
    if (self->endBeforeStart) {
        return 0;
    }
    if (self->initEvent == nullptr) {
        LogMessage(LOG_WARNING, kWindowThreadRoutine, L"invalid error event");
    }

    const std::uint32_t result = self->InitWindowInstance();
    self->initResult = result;
    if (self->initEvent != nullptr) {
        SetEvent(self->initEvent);
    }
    if (result != 0) {
        LogMessage(LOG_ERROR, kWindowThreadRoutine, L"init instance failed [error = %d]", result);
        return result;
    }

    self->PumpMessages();
    self->UninitWindowInstance();
    if (self->teardown.exchange(Teardown::kThreadDone) == Teardown::kHandedOver) {
        self->FinishTeardownOnWindowThread();
    }
    return 0;
}

void DeviceScanSP::PumpMessages() {
    MSG message;
    for (;;) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) {
            LogMessage(LOG_ERROR, kWindowThreadRoutine,
                       L"window thread retrieves the WM_QUIT message");
            return;
        }
        if (got == -1) {
            LogMessage(LOG_ERROR, kWindowThreadRoutine,
                       L" getting thread message failed [error = %d]", GetLastError());
            return;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

std::uint32_t DeviceScanSP::InitWindowInstance() {
    logging::TraceScope scope(kInitWindowInstance);
    if (moduleInstance == nullptr) {
        const DWORD error = LastErrorOr(ERROR_INVALID_HANDLE);
        LogMessage(LOG_ERROR, kInitWindowInstance, L"cannot register invisible window [error = %d]",
                   error);
        return error;
    }

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_VREDRAW | CS_HREDRAW;
    windowClass.lpfnWndProc = &WindowProc;
    windowClass.hInstance = moduleInstance;
    windowClass.lpszClassName = kWindowClassName;
    if (RegisterClassExW(&windowClass) == 0) {
        const DWORD error = LastErrorOr(ERROR_GEN_FAILURE);
        LogMessage(LOG_ERROR, kInitWindowInstance, L"cannot register invisible window [error = %d]",
                   error);
        return error;
    }

    // Every failure below unregisters the class again, so that a later Start in this process
    // can register it afresh.
    window = CreateWindowExW(0, kWindowClassName, kWindowName, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                             moduleInstance, nullptr);
    if (window == nullptr) {
        const DWORD error = LastErrorOr(ERROR_INVALID_WINDOW_HANDLE);
        LogMessage(LOG_ERROR, kInitWindowInstance, L"cannot create invisible window [error = %d]",
                   error);
        UnregisterClassW(kWindowClassName, moduleInstance);
        return error;
    }

    SetLastError(0);
    if (SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this)) == 0 &&
        GetLastError() != 0) {
        const DWORD error = GetLastError();
        LogMessage(LOG_ERROR, kInitWindowInstance, L"cannot set window context [error = %d]",
                   error);
        DestroyWindow(window);
        window = nullptr;
        UnregisterClassW(kWindowClassName, moduleInstance);
        return error;
    }
    return qv::kResultSuccess;
}

std::uint32_t DeviceScanSP::UninitWindowInstance() {
    logging::TraceScope scope(kUninitWindowInstance);
    std::uint32_t result = qv::kResultSuccess;
    if (window == nullptr) {
        LogMessage(LOG_ERROR, kUninitWindowInstance,
                   L"invalid window handler [nothing to destroy]");
        result = qv::kResultNotFound;
    } else if (DestroyWindow(window)) {
        LogMessage(LOG_INFO, kUninitWindowInstance, L"the window is destroyed");
    } else {
        result = GetLastError();
        LogMessage(LOG_ERROR, kUninitWindowInstance, L"cannot destroy window [error = %d]", result);
    }
    window = nullptr;
    if (moduleInstance != nullptr) {
        UnregisterClassW(kWindowClassName, moduleInstance);
    }
    return result;
}

}  // namespace devicescan::service
