#include "drives/DriveProbes.h"

#include <windows.h>
#include <winioctl.h>

#include "drives/Platform.h"
#include "logging/LogApi.h"
#include "logging/LogMessage.h"

namespace devicescan::service::utils {
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

}  // namespace devicescan::service::utils
