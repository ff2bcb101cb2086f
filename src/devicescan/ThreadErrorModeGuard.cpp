#include "devicescan/ThreadErrorModeGuard.h"

#include "drives/Platform.h"

namespace devicescan::service {
namespace {

// The process-wide answer of IsOsVersionAtLeast61. The value written is the same for the whole
// process, so no lock is needed.
std::atomic<std::uint32_t> osVersionState{kOsVersionUnknown};

}  // namespace

ThreadErrorModeGuard::ThreadErrorModeGuard() {
    if (!IsOsVersionAtLeast61()) {
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
    if (!IsOsVersionAtLeast61()) {
        platform::SetErrorMode(oldMode);
        return;
    }
    const platform::SetThreadErrorModeFunction setThreadErrorMode =
        platform::FindSetThreadErrorMode();
    if (setThreadErrorMode != nullptr) {
        setThreadErrorMode(oldMode, nullptr);
    }
}

bool IsOsVersionAtLeast61() {
    return IsOsVersionAtLeast61(osVersionState);
}

bool IsOsVersionAtLeast61(std::atomic<std::uint32_t>& state) {
    const std::uint32_t known = state.load(std::memory_order_relaxed);
    if (known != kOsVersionUnknown) {
        return known == 1;
    }
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    const platform::GetVersionExWFunction getVersionEx = platform::FindGetVersionExW();
    if (getVersionEx == nullptr || !getVersionEx(reinterpret_cast<OSVERSIONINFOW*>(&info))) {
        return false;
    }
    const bool atLeast61 =
        info.dwMajorVersion > 6 || (info.dwMajorVersion == 6 && info.dwMinorVersion >= 1);
    state.store(atLeast61 ? 1 : 0, std::memory_order_relaxed);
    return atLeast61;
}

}  // namespace devicescan::service
