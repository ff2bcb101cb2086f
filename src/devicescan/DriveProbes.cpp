#include "devicescan/Utils.h"

#include <windows.h>
#include <shlwapi.h>
#include <winioctl.h>

#include <atomic>
#include <cstdint>

#include "devicescan/Platform.h"
#include "logging/LogMessage.h"
#include "logging/Severity.h"

namespace utils {
namespace {

constexpr wchar_t kIsFixedDrive[] = L"utils::IsFixedDrive";

// Closes a device handle of the platform layer on every way out.
class DeviceHandle {
  public:
    explicit DeviceHandle(HANDLE handle) : handle(handle) {}
    ~DeviceHandle() {
        if (IsOpen()) {
            platform::CloseHandle(handle);
        }
    }
    DeviceHandle(const DeviceHandle&) = delete;
    DeviceHandle& operator=(const DeviceHandle&) = delete;

    bool IsOpen() const { return handle != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return handle; }

  private:
    HANDLE handle;
};

// The process-wide answer of IsOsVersionAtLeast61. The value written is the same for the whole
// process, so no lock is needed.
std::atomic<std::uint32_t> osVersionState{kOsVersionUnknown};

}  // namespace

bool IsFixedDrive(const std::wstring& path) {
    const wchar_t deviceName[] = {L'\\', L'\\', L'.', L'\\', path.empty() ? L'\0' : path[0],
                                  L':',  L'\0'};
    const DeviceHandle device(
        platform::CreateFileW(deviceName, 0, 0, OPEN_EXISTING, FILE_FLAG_NO_BUFFERING));
    if (!device.IsOpen()) {
        logging::LogMessage(logging::LOG_ERROR, kIsFixedDrive,
                            L"Handle is not valid. Assume drive is not fixed");
        return false;
    }
    STORAGE_HOTPLUG_INFO info{};
    DWORD returned = 0;
    if (!platform::DeviceIoControl(device.Get(), IOCTL_STORAGE_GET_HOTPLUG_INFO, &info,
                                   sizeof(info), &returned)) {
        logging::LogMessage(logging::LOG_ERROR, kIsFixedDrive,
                            L"DeviceIoControl failed. Assume drive is not fixed");
        return false;
    }
    return info.MediaRemovable == 0 && info.DeviceHotplug == 0;
}

bool GetSystemDirectoryPath(qv::String& directory) {
    // PathAddBackslashW may write up to MAX_PATH characters.
    if (directory.GetCapacity() < MAX_PATH && !directory.Preallocate(MAX_PATH)) {
        return false;
    }
    wchar_t* buffer = directory.GetBuffer();
    const UINT read =
        platform::GetSystemDirectoryW(buffer, static_cast<UINT>(directory.GetCapacity()));
    directory.ReleaseBuffer();
    if (read == 0) {
        return false;
    }
    const wchar_t* end = PathAddBackslashW(buffer);
    directory.ReleaseBuffer();
    return end != nullptr;
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

}  // namespace utils
