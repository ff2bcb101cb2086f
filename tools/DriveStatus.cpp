#include "tools/DriveStatus.h"

#include <winioctl.h>
#include <winnetwk.h>

#include "sdk/UniqueHandle.h"
#include "sdk/Utf8.h"
#include "tools/Arguments.h"
#include "tools/ErrorText.h"

namespace devicescan::tools {

namespace {

void ProbeSpace(const std::wstring& root, DriveStatus& status) {
    ULARGE_INTEGER freeToCaller{}, total{}, totalFree{};
    if (!GetDiskFreeSpaceExW(root.c_str(), &freeToCaller, &total, &totalFree)) {
        status.spaceError = GetLastError();
        return;
    }
    status.freeToCaller = freeToCaller.QuadPart;
    status.totalBytes = total.QuadPart;
    status.totalFree = totalFree.QuadPart;
}

void ProbeHotplug(wchar_t letter, DriveStatus& status) {
    const std::wstring device = std::wstring(L"\\\\.\\") + letter + L':';
    qv::UniqueHandle volume(
        CreateFileW(device.c_str(), 0, 0, nullptr, OPEN_EXISTING, FILE_FLAG_NO_BUFFERING, nullptr));
    if (!volume.IsValid()) {
        status.hotplugError = GetLastError();
        return;
    }
    STORAGE_HOTPLUG_INFO info{};
    DWORD returned = 0;
    if (!DeviceIoControl(volume.Get(), IOCTL_STORAGE_GET_HOTPLUG_INFO, nullptr, 0, &info,
                         sizeof(info), &returned, nullptr)) {
        status.hotplugError = GetLastError();
        return;
    }
    status.mediaRemovable = info.MediaRemovable != 0;
    status.deviceHotplug = info.DeviceHotplug != 0;
}

void ProbeUncName(wchar_t letter, DriveStatus& status) {
    const std::wstring localName = std::wstring(1, letter) + L':';
    alignas(UNIVERSAL_NAME_INFOW) BYTE buffer[2048] = {};
    DWORD size = sizeof(buffer);
    status.uncError =
        WNetGetUniversalNameW(localName.c_str(), UNIVERSAL_NAME_INFO_LEVEL, buffer, &size);
    if (status.uncError == NO_ERROR) {
        status.uncName = reinterpret_cast<UNIVERSAL_NAME_INFOW*>(buffer)->lpUniversalName;
    }
}

std::string FormatResult(DWORD error, const std::string& success) {
    return error == ERROR_SUCCESS ? success : DescribeError(error);
}

}  // namespace

DriveStatus ProbeDrive(wchar_t letter) {
    DriveStatus status;
    status.letter = letter;
    status.defined = (GetLogicalDrives() & UnitMaskOf(letter)) != 0;
    const std::wstring root = std::wstring(1, letter) + L":\\";
    status.type = GetDriveTypeW(root.c_str());
    ProbeSpace(root, status);
    ProbeHotplug(letter, status);
    ProbeUncName(letter, status);
    return status;
}

std::string FormatDriveStatus(const DriveStatus& status) {
    std::string text = "drive: " + std::string(1, static_cast<char>(status.letter)) + ":\n";
    text += std::string("defined: ") + (status.defined ? "yes" : "no") + "\n";
    text += "type: " + std::to_string(status.type) + " " + DriveTypeName(status.type) + "\n";
    text += "space: " +
            FormatResult(status.spaceError, "caller " + std::to_string(status.freeToCaller) +
                                                " total " + std::to_string(status.totalBytes) +
                                                " free " + std::to_string(status.totalFree)) +
            "\n";
    text += "hotplug: " +
            FormatResult(status.hotplugError,
                         std::string("media-removable ") + (status.mediaRemovable ? "1" : "0") +
                             " device-hotplug " + (status.deviceHotplug ? "1" : "0")) +
            "\n";
    text +=
        "unc: " + FormatResult(status.uncError, qv::ToUtf8(status.uncName, true).value_or("?")) +
        "\n";
    return text;
}

}  // namespace devicescan::tools
