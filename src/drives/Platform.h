#pragma once

#include <windows.h>

// The storage-related Windows calls of the device code, behind one narrow layer so that unit
// tests can script every drive. devicescan.dll links PlatformWin32.cpp, which forwards each call
// to Windows unchanged; the unit tests link a scriptable fake instead. Each function behaves as
// the Windows call of the same name, including the thread's last-error code on failure.
namespace devicescan::service::platform {

UINT GetDriveTypeW(const wchar_t* rootPath);
BOOL GetDiskFreeSpaceExW(const wchar_t* rootPath, ULARGE_INTEGER* freeBytesToCaller,
                         ULARGE_INTEGER* totalBytes, ULARGE_INTEGER* totalFreeBytes);

// CreateFileW without security attributes or template.
HANDLE CreateFileW(const wchar_t* name, DWORD access, DWORD shareMode, DWORD disposition,
                   DWORD flags);
// A synchronous DeviceIoControl without input.
BOOL DeviceIoControl(HANDLE device, DWORD code, void* output, DWORD outputBytes,
                     DWORD* bytesReturned);
BOOL CloseHandle(HANDLE handle);

UINT GetSystemDirectoryW(wchar_t* buffer, UINT size);
DWORD WNetGetUniversalNameW(const wchar_t* localPath, DWORD infoLevel, void* buffer,
                            DWORD* bufferBytes);
DWORD WTSGetActiveConsoleSessionId();

// Functions that older systems lack, looked up at run time: null when missing.
using GetVersionExWFunction = BOOL(WINAPI*)(OSVERSIONINFOW* info);
using SetThreadErrorModeFunction = BOOL(WINAPI*)(DWORD mode, DWORD* oldMode);
GetVersionExWFunction FindGetVersionExW();            // in "Kernel32.dll"
SetThreadErrorModeFunction FindSetThreadErrorMode();  // in "kernel32"
UINT SetErrorMode(UINT mode);

}  // namespace devicescan::service::platform
