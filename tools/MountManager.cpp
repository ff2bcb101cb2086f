#include "tools/MountManager.h"

#include <winioctl.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "sdk/UniqueHandle.h"

namespace devicescan::tools {

namespace {

// Wine's request to define a drive letter: this header, then the NUL-terminated Unix path of the
// mount point at mount_point_offset. Type 1 (DRIVE_NO_ROOT_DIR) with no path removes the letter.
struct UnixDriveRequest {
    ULONG size;  // the whole request, path included
    ULONG type;  // a DRIVE_* value
    ULONG fs_type;
    DWORD serial;
    ULONGLONG unix_dev;
    WCHAR letter;  // lower case
    USHORT mount_point_offset;
    USHORT device_offset;
    USHORT label_offset;
};
static_assert(sizeof(UnixDriveRequest) == 32);

constexpr DWORD kMountManagerDeviceType = 'm';
constexpr DWORD kDefineUnixDrive =
    CTL_CODE(kMountManagerDeviceType, 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);

std::vector<std::byte> BuildRequest(wchar_t letter, UINT driveType, std::string_view unixPath) {
    const size_t pathBytes = unixPath.empty() ? 0 : unixPath.size() + 1;
    std::vector<std::byte> buffer(sizeof(UnixDriveRequest) + pathBytes);
    UnixDriveRequest request{};
    request.size = static_cast<ULONG>(buffer.size());
    request.type = driveType;
    request.letter = static_cast<WCHAR>(letter - L'A' + L'a');
    if (pathBytes != 0) {
        request.mount_point_offset = sizeof(UnixDriveRequest);
        std::memcpy(buffer.data() + sizeof(UnixDriveRequest), unixPath.data(), unixPath.size());
    }
    std::memcpy(buffer.data(), &request, sizeof(request));
    return buffer;
}

DWORD SendRequest(const std::vector<std::byte>& request) {
    if (request.size() > 0xFFFF) {
        return ERROR_FILENAME_EXCED_RANGE;  // offsets in the request are 16-bit
    }
    qv::UniqueHandle manager(CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                         0, nullptr));
    if (!manager.IsValid()) {
        return GetLastError();
    }
    DWORD returned = 0;
    if (!DeviceIoControl(manager.Get(), kDefineUnixDrive, const_cast<std::byte*>(request.data()),
                         static_cast<DWORD>(request.size()), nullptr, 0, &returned, nullptr)) {
        return GetLastError();
    }
    return ERROR_SUCCESS;
}

}  // namespace

DWORD DefineUnixDrive(wchar_t letter, UINT driveType, std::string_view unixPath) {
    if (unixPath.empty() || driveType == DRIVE_NO_ROOT_DIR) {
        return ERROR_INVALID_PARAMETER;
    }
    return SendRequest(BuildRequest(letter, driveType, unixPath));
}

DWORD RemoveUnixDrive(wchar_t letter) {
    return SendRequest(BuildRequest(letter, DRIVE_NO_ROOT_DIR, {}));
}

}  // namespace devicescan::tools
