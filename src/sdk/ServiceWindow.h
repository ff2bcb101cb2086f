#pragma once

/* How a process reaches the service's invisible window: by its class name, which the service
 * registers and hosts, tools and tests look for. Plain C, so that the C host among the tests
 * uses the same code as the C++ programs. */

#include <windows.h>
#include <dbt.h>

#define QV_SERVICE_WINDOW_CLASS L"DeviceScanWndClassName"

/* The service window created by this process, or NULL. Processes share one desktop (under Wine
 * every test program does), so a window found by its class alone may belong to another. */
static inline HWND QvFindOwnServiceWindow(void) {
    HWND window = NULL;
    DWORD owner = 0;
    do {
        window = FindWindowExW(NULL, window, QV_SERVICE_WINDOW_CLASS, NULL);
        owner = 0;
        GetWindowThreadProcessId(window, &owner);
    } while (window != NULL && owner != GetCurrentProcessId());
    return window;
}

/* Sends window a volume notification (change: DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE, ...)
 * for the drives of unitMask (bit 0: A:), as the system broadcasts it; its answer. */
static inline LRESULT QvSendVolumeChange(HWND window, WPARAM change, DWORD unitMask) {
    DEV_BROADCAST_VOLUME volume;
    ZeroMemory(&volume, sizeof(volume));
    volume.dbcv_size = sizeof(volume);
    volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    volume.dbcv_unitmask = unitMask;
    return SendMessageW(window, WM_DEVICECHANGE, change, (LPARAM)&volume);
}
