#pragma once

#include <windows.h>

#include "sdk/UniqueHandle.h"

namespace devicescan::tools {

// A machine-wide mutex held while the tool looks at a letter and then defines or removes it, so
// that two tools started at once never both find a letter free and plug it. Threads: the owning
// thread only, for one command.
class DriveLettersLock {
  public:
    DriveLettersLock() = default;
    ~DriveLettersLock() {
        if (held) {
            ReleaseMutex(mutex.Get());
        }
    }
    DriveLettersLock(const DriveLettersLock&) = delete;
    DriveLettersLock& operator=(const DriveLettersLock&) = delete;

    // Waits at most timeoutMs; ERROR_SUCCESS once held. A lock left behind by a tool that died
    // is taken over.
    DWORD Acquire(DWORD timeoutMs) {
        mutex.Reset(CreateMutexW(nullptr, FALSE, L"devicescan-volume-letters"));
        if (!mutex.IsValid()) {
            return GetLastError();
        }
        const DWORD result = WaitForSingleObject(mutex.Get(), timeoutMs);
        if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) {
            held = true;
            return ERROR_SUCCESS;
        }
        return result == WAIT_TIMEOUT ? ERROR_TIMEOUT : GetLastError();
    }

  private:
    qv::UniqueHandle mutex;
    bool held = false;
};

}  // namespace devicescan::tools
