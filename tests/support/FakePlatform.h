#pragma once

#include <windows.h>
#include <winioctl.h>

#include <cwctype>
#include <map>
#include <string>

// The scripted machine that the service tests link instead of the Win32 platform layer. Every
// drive letter is a removable stick of 16 GB with 6 GB free until scripted otherwise. The system
// directory is C:\Windows\system32, the console session 3. Tests script it only while no
// handler runs: the window thread reads it while a test waits in SendMessageW.
namespace test_support {

struct FakeDrive {
    UINT driveType = DRIVE_REMOVABLE;
    DWORD openError = 0;     // non-zero: opening the device fails with this code
    DWORD hotplugError = 0;  // non-zero: the hot-plug query fails with this code
    STORAGE_HOTPLUG_INFO hotplug{sizeof(STORAGE_HOTPLUG_INFO), 1, 0, 0, 0};
    DWORD sizeError = 0;  // non-zero: the free-space query fails with this code
    ULONGLONG freeBytesToCaller = 6000000000ull;
    ULONGLONG totalBytes = 16000000000ull;
    ULONGLONG totalFreeBytes = 6000000000ull;
    DWORD universalNameError = ERROR_NOT_CONNECTED;  // NO_ERROR: universalName is given
    std::wstring universalName{};
};

struct FakePlatform {
    void Reset() { *this = FakePlatform(); }
    // The letter's drive, to script or to read; the reference stays valid until Reset.
    FakeDrive& Drive(wchar_t letter) { return drives[static_cast<wchar_t>(std::towupper(letter))]; }

    std::map<wchar_t, FakeDrive> drives;
    int openHandles = 0;  // device handles opened and not yet closed
    int versionQueries = 0;
    DWORD osMajor = 6;
    DWORD osMinor = 1;
};

// The program's one scripted machine.
inline FakePlatform fakeMachine;

}  // namespace test_support
