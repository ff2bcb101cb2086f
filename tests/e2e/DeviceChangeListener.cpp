#include "DeviceChangeListener.h"

#include <dbt.h>

#include <mutex>

namespace qv::tests {

namespace {

constexpr wchar_t kClassName[] = L"DeviceScanTestListener";
constexpr DWORD kThreadTimeoutMs = 10000;

bool Matches(const DeviceChangeNotice& notice, WPARAM event, std::optional<DWORD> unitMask) {
    if (notice.event != event || notice.hasHeader != unitMask.has_value()) {
        return false;
    }
    return !unitMask || notice.unitMask == *unitMask;
}

}  // namespace

DeviceChangeListener::DeviceChangeListener() {
    ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    noticeArrived = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    thread = CreateThread(nullptr, 0, &DeviceChangeListener::ThreadMain, this, 0, nullptr);
    if (thread != nullptr) {
        WaitForSingleObject(ready, kThreadTimeoutMs);
    }
}

DeviceChangeListener::~DeviceChangeListener() {
    if (HWND listening = window.load(); listening != nullptr) {
        PostMessageW(listening, WM_CLOSE, 0, 0);
    }
    if (thread != nullptr) {
        if (WaitForSingleObject(thread, kThreadTimeoutMs) != WAIT_OBJECT_0) {
            TerminateThread(thread, 1);  // a stuck window thread must not hang the test run
        }
        CloseHandle(thread);
    }
    UnregisterClassW(kClassName, GetModuleHandleW(nullptr));
    CloseHandle(noticeArrived);
    CloseHandle(ready);
}

void DeviceChangeListener::Clear() {
    std::lock_guard<CriticalSection> guard(noticesLock);
    notices.clear();
}

std::optional<DeviceChangeNotice> DeviceChangeListener::Take(WPARAM event,
                                                             std::optional<DWORD> unitMask,
                                                             DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (std::optional<DeviceChangeNotice> notice = TakeMatching(event, unitMask)) {
            return notice;
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) {
            return std::nullopt;
        }
        WaitForSingleObject(noticeArrived, static_cast<DWORD>(deadline - now));
    }
}

std::optional<DeviceChangeNotice> DeviceChangeListener::TakeMatching(
    WPARAM event, std::optional<DWORD> unitMask) {
    std::lock_guard<CriticalSection> guard(noticesLock);
    for (auto it = notices.begin(); it != notices.end(); ++it) {
        if (Matches(*it, event, unitMask)) {
            const DeviceChangeNotice notice = *it;
            notices.erase(it);
            return notice;
        }
    }
    return std::nullopt;
}

DWORD WINAPI DeviceChangeListener::ThreadMain(void* self) {
    auto* listener = static_cast<DeviceChangeListener*>(self);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = &DeviceChangeListener::WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kClassName;
    RegisterClassExW(&windowClass);
    HWND window = CreateWindowExW(0, kClassName, L"", WS_OVERLAPPEDWINDOW, 0, 0, 0, 0, nullptr,
                                  nullptr, windowClass.hInstance, nullptr);
    if (window != nullptr) {
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(listener));
    }
    listener->window.store(window);
    SetEvent(listener->ready);
    if (window == nullptr) {
        return 1;
    }
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        DispatchMessageW(&message);
    }
    return 0;
}

LRESULT CALLBACK DeviceChangeListener::WindowProc(HWND window, UINT message, WPARAM wParam,
                                                  LPARAM lParam) {
    auto* listener =
        reinterpret_cast<DeviceChangeListener*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_DEVICECHANGE && listener != nullptr) {
        listener->Record(wParam, lParam);
        return TRUE;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void DeviceChangeListener::Record(WPARAM event, LPARAM lParam) {
    DeviceChangeNotice notice;
    notice.event = event;
    if (lParam != 0) {
        const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
        notice.hasHeader = true;
        notice.size = header->dbch_size;
        notice.deviceType = header->dbch_devicetype;
        if (header->dbch_size >= sizeof(DEV_BROADCAST_VOLUME)) {
            const auto* volume = reinterpret_cast<const DEV_BROADCAST_VOLUME*>(lParam);
            notice.unitMask = volume->dbcv_unitmask;
            notice.flags = volume->dbcv_flags;
        }
    }
    {
        std::lock_guard<CriticalSection> guard(noticesLock);
        notices.push_back(notice);
    }
    SetEvent(noticeArrived);
}

}  // namespace qv::tests
