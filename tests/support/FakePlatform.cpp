#include "tests/support/FakePlatform.h"

#include <winnetwk.h>

#include <cstring>

#include "drives/Platform.h"

// The platform layer, answered from the script.
namespace devicescan::service::platform {

using test_support::fakeMachine;

namespace {

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

BOOL WINAPI FakeGetVersionExW(OSVERSIONINFOW* info) {
    ++fakeMachine.versionQueries;
    info->dwMajorVersion = fakeMachine.osMajor;
    info->dwMinorVersion = fakeMachine.osMinor;
    return TRUE;
}

}  // namespace

UINT GetDriveTypeW(const wchar_t* rootPath) {
    return fakeMachine.Drive(rootPath[0]).driveType;
}

BOOL GetDiskFreeSpaceExW(const wchar_t* rootPath, ULARGE_INTEGER* freeBytesToCaller,
                         ULARGE_INTEGER* totalBytes, ULARGE_INTEGER* totalFreeBytes) {
    const auto& drive = fakeMachine.Drive(rootPath[0]);
    if (drive.sizeError != 0) {
        return Fail(drive.sizeError);
    }
    freeBytesToCaller->QuadPart = drive.freeBytesToCaller;
    totalBytes->QuadPart = drive.totalBytes;
    totalFreeBytes->QuadPart = drive.totalFreeBytes;
    return TRUE;
}

// Opens \\.\X: as a handle that is the letter.
HANDLE CreateFileW(const wchar_t* name, DWORD, DWORD, DWORD, DWORD) {
    if (const DWORD error = fakeMachine.Drive(name[4]).openError) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    ++fakeMachine.openHandles;
    return reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(std::towupper(name[4])));
}

BOOL DeviceIoControl(HANDLE device, DWORD code, void* output, DWORD outputBytes,
                     DWORD* bytesReturned) {
    const auto& drive =
        fakeMachine.Drive(static_cast<wchar_t>(reinterpret_cast<ULONG_PTR>(device)));
    if (code != IOCTL_STORAGE_GET_HOTPLUG_INFO || outputBytes < sizeof(drive.hotplug)) {
        return Fail(ERROR_INVALID_FUNCTION);
    }
    if (drive.hotplugError != 0) {
        return Fail(drive.hotplugError);
    }
    std::memcpy(output, &drive.hotplug, sizeof(drive.hotplug));
    *bytesReturned = sizeof(drive.hotplug);
    return TRUE;
}

BOOL CloseHandle(HANDLE) {
    --fakeMachine.openHandles;
    return TRUE;
}

UINT GetSystemDirectoryW(wchar_t* buffer, UINT) {
    std::wcscpy(buffer, L"C:\\Windows\\system32");
    return static_cast<UINT>(std::wcslen(buffer));
}

DWORD WNetGetUniversalNameW(const wchar_t* localPath, DWORD, void* buffer, DWORD*) {
    const auto& drive = fakeMachine.Drive(localPath[0]);
    if (drive.universalNameError != NO_ERROR) {
        return drive.universalNameError;
    }
    // The name is stored right after the structure, as Windows does.
    auto* info = static_cast<UNIVERSAL_NAME_INFOW*>(buffer);
    info->lpUniversalName = reinterpret_cast<wchar_t*>(info + 1);
    std::wcscpy(info->lpUniversalName, drive.universalName.c_str());
    return NO_ERROR;
}

DWORD WTSGetActiveConsoleSessionId() {
    return 3;
}

GetVersionExWFunction FindGetVersionExW() {
    return &FakeGetVersionExW;
}

// The real per-thread call, so that tests can watch the thread's error mode change and return.
SetThreadErrorModeFunction FindSetThreadErrorMode() {
    return &::SetThreadErrorMode;
}

UINT SetErrorMode(UINT mode) {
    return ::SetErrorMode(mode);
}

}  // namespace devicescan::service::platform
