#pragma once

#include <windows.h>

#include <atomic>
#include <optional>
#include <vector>

#include "CriticalSection.h"

namespace qv::tests {

// One WM_DEVICECHANGE as a window received it.
struct DeviceChangeNotice {
    WPARAM event = 0;
    bool hasHeader = false;  // lParam was not null
    DWORD size = 0;          // dbch_size
    DWORD deviceType = 0;    // dbch_devicetype
    DWORD unitMask = 0;      // dbcv_unitmask, when the header is a volume's
    WORD flags = 0;          // dbcv_flags, likewise
};

// A hidden top-level window (never shown, not message-only: those get no broadcasts) that
// records every WM_DEVICECHANGE it receives, as a service's window would.
//
// Threads: the window lives on a thread of its own that pumps its messages, so that broadcasts
// sent from other processes are answered while the test thread waits for them. The window
// thread appends notices under noticesLock and sets noticeArrived; the test thread reads and
// removes them under the same lock. Every wait is bounded.
class DeviceChangeListener {
  public:
    DeviceChangeListener();
    ~DeviceChangeListener();
    DeviceChangeListener(const DeviceChangeListener&) = delete;
    DeviceChangeListener& operator=(const DeviceChangeListener&) = delete;

    // Whether the window exists and its thread pumps messages.
    bool IsListening() const { return window != nullptr; }

    // Forgets every notice received so far.
    void Clear();

    // Waits up to timeoutMs for a notice with this event whose header carries unitMask (or, for
    // unitMask nullopt, that has no header), removes it and returns it.
    std::optional<DeviceChangeNotice> Take(WPARAM event, std::optional<DWORD> unitMask,
                                           DWORD timeoutMs);

  private:
    static DWORD WINAPI ThreadMain(void* self);
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void Record(WPARAM event, LPARAM lParam);
    std::optional<DeviceChangeNotice> TakeMatching(WPARAM event, std::optional<DWORD> unitMask);

    HANDLE ready = nullptr;
    HANDLE noticeArrived = nullptr;
    HANDLE thread = nullptr;
    std::atomic<HWND> window = nullptr;  // set by the window thread before ready
    CriticalSection noticesLock;
    std::vector<DeviceChangeNotice> notices;
};

}  // namespace qv::tests
