#pragma once

#include <windows.h>

#include "DeviceScanSP.h"

namespace support {

// The service window of this process. Tests run in parallel processes that share one desktop,
// so a window found by class and name alone may belong to another test.
inline HWND FindOwnServiceWindow() {
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, DeviceScanSP::kWindowClassName,
                                   DeviceScanSP::kWindowName)) != nullptr) {
        DWORD processId = 0;
        GetWindowThreadProcessId(window, &processId);
        if (processId == GetCurrentProcessId()) {
            return window;
        }
    }
    return nullptr;
}

}  // namespace support
