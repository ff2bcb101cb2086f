#include "devicescan/ThreadErrorModeGuard.h"

#include "devicescan/Platform.h"
#include "devicescan/Utils.h"

ThreadErrorModeGuard::ThreadErrorModeGuard() {
    if (!utils::IsOsVersionAtLeast61()) {
        oldMode = platform::SetErrorMode(SEM_FAILCRITICALERRORS);
        return;
    }
    const platform::SetThreadErrorModeFunction setThreadErrorMode =
        platform::FindSetThreadErrorMode();
    active = setThreadErrorMode != nullptr && setThreadErrorMode(SEM_FAILCRITICALERRORS, &oldMode);
}

ThreadErrorModeGuard::~ThreadErrorModeGuard() {
    if (!active) {
        return;
    }
    if (!utils::IsOsVersionAtLeast61()) {
        platform::SetErrorMode(oldMode);
        return;
    }
    const platform::SetThreadErrorModeFunction setThreadErrorMode =
        platform::FindSetThreadErrorMode();
    if (setThreadErrorMode != nullptr) {
        setThreadErrorMode(oldMode, nullptr);
    }
}
