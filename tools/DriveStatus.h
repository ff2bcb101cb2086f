#pragma once

#include <windows.h>

#include <string>

namespace devicescan::tools {

// What the probes of a device-scanning service see of one drive letter: the same calls, made the
// same way, with every failure kept as its Win32 code.
struct DriveStatus {
    wchar_t letter = L'A';
    bool defined = false;  // listed by GetLogicalDrives, even when its directory has gone
    UINT type = DRIVE_UNKNOWN;

    DWORD spaceError = ERROR_SUCCESS;  // of GetDiskFreeSpaceExW on the root
    ULONGLONG freeToCaller = 0;
    ULONGLONG totalBytes = 0;
    ULONGLONG totalFree = 0;

    DWORD hotplugError = ERROR_SUCCESS;  // of opening \\.\X: or of IOCTL_STORAGE_GET_HOTPLUG_INFO
    bool mediaRemovable = false;
    bool deviceHotplug = false;

    DWORD uncError = ERROR_SUCCESS;  // of WNetGetUniversalNameW on "X:"
    std::wstring uncName;
};

// Probes an upper-case drive letter.
DriveStatus ProbeDrive(wchar_t letter);

// One "name: value" line per probe, as the status command prints them.
std::string FormatDriveStatus(const DriveStatus& status);

}  // namespace devicescan::tools
