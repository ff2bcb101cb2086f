#include <windows.h>
#include <winnetwk.h>

#include "drives/Platform.h"
#include "sdk/ProcAddress.h"

namespace devicescan::service::platform {

UINT GetDriveTypeW(const wchar_t* rootPath) {
    return ::GetDriveTypeW(rootPath);
}

BOOL GetDiskFreeSpaceExW(const wchar_t* rootPath, ULARGE_INTEGER* freeBytesToCaller,
                         ULARGE_INTEGER* totalBytes, ULARGE_INTEGER* totalFreeBytes) {
    return ::GetDiskFreeSpaceExW(rootPath, freeBytesToCaller, totalBytes, totalFreeBytes);
}

HANDLE CreateFileW(const wchar_t* name, DWORD access, DWORD shareMode, DWORD disposition,
                   DWORD flags) {
    return ::CreateFileW(name, access, shareMode, nullptr, disposition, flags, nullptr);
}

BOOL DeviceIoControl(HANDLE device, DWORD code, void* output, DWORD outputBytes,
                     DWORD* bytesReturned) {
    return ::DeviceIoControl(device, code, nullptr, 0, output, outputBytes, bytesReturned, nullptr);
}

BOOL CloseHandle(HANDLE handle) {
    return ::CloseHandle(handle);
}

UINT GetSystemDirectoryW(wchar_t* buffer, UINT size) {
    return ::GetSystemDirectoryW(buffer, size);
}

DWORD WNetGetUniversalNameW(const wchar_t* localPath, DWORD infoLevel, void* buffer,
                            DWORD* bufferBytes) {
    return ::WNetGetUniversalNameW(localPath, infoLevel, buffer, bufferBytes);
}

DWORD WTSGetActiveConsoleSessionId() {
    return ::WTSGetActiveConsoleSessionId();
}

GetVersionExWFunction FindGetVersionExW() {
    const HMODULE kernel = ::GetModuleHandleW(L"Kernel32.dll");
    return kernel ? qv::GetProcAddressAs<GetVersionExWFunction>(kernel, "GetVersionExW") : nullptr;
}

SetThreadErrorModeFunction FindSetThreadErrorMode() {
    const HMODULE kernel = ::GetModuleHandleW(L"kernel32");
    return kernel ? qv::GetProcAddressAs<SetThreadErrorModeFunction>(kernel, "SetThreadErrorMode")
                  : nullptr;
}

UINT SetErrorMode(UINT mode) {
    return ::SetErrorMode(mode);
}

}  // namespace devicescan::service::platform
