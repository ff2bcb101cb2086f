#include "FakePlatform.h"

#include <winnetwk.h>

#include <cstring>
#include <cwctype>

#include "Platform.h"
#include "ProcAddress.h"

namespace fakes {

FakePlatform& FakePlatform::Get() {
    static FakePlatform instance;
    return instance;
}

void FakePlatform::Reset() {
    std::lock_guard<std::mutex> guard(lock);
    drives.clear();
    openHandles.clear();
    calls.clear();
    systemDirectory = L"C:\\Windows\\system32";
    systemDirectoryError = 0;
    sessionId = 1;
    osMajor = 6;
    osMinor = 1;
    versionQueryAvailable = true;
    versionQueryFails = false;
    threadErrorModeAvailable = true;
}

FakeDrive& FakePlatform::Drive(wchar_t letter) {
    std::lock_guard<std::mutex> guard(lock);
    return drives[static_cast<wchar_t>(std::towupper(letter))];
}

void FakePlatform::SetSystemDirectory(const std::wstring& directory, DWORD error) {
    std::lock_guard<std::mutex> guard(lock);
    systemDirectory = directory;
    systemDirectoryError = error;
}

void FakePlatform::SetSessionId(DWORD id) {
    std::lock_guard<std::mutex> guard(lock);
    sessionId = id;
}

void FakePlatform::SetOsVersion(DWORD major, DWORD minor) {
    std::lock_guard<std::mutex> guard(lock);
    osMajor = major;
    osMinor = minor;
}

void FakePlatform::SetVersionQueryAvailable(bool available) {
    std::lock_guard<std::mutex> guard(lock);
    versionQueryAvailable = available;
}

void FakePlatform::SetVersionQueryFails(bool fails) {
    std::lock_guard<std::mutex> guard(lock);
    versionQueryFails = fails;
}

void FakePlatform::SetThreadErrorModeAvailable(bool available) {
    std::lock_guard<std::mutex> guard(lock);
    threadErrorModeAvailable = available;
}

std::vector<std::wstring> FakePlatform::Calls() const {
    std::lock_guard<std::mutex> guard(lock);
    return calls;
}

int FakePlatform::CountCalls(const std::wstring& prefix) const {
    std::lock_guard<std::mutex> guard(lock);
    int count = 0;
    for (const auto& call : calls) {
        count += call.rfind(prefix, 0) == 0 ? 1 : 0;
    }
    return count;
}

void FakePlatform::ClearCalls() {
    std::lock_guard<std::mutex> guard(lock);
    calls.clear();
}

int FakePlatform::OpenDeviceHandles() const {
    std::lock_guard<std::mutex> guard(lock);
    return static_cast<int>(openHandles.size());
}

void FakePlatform::Record(const std::wstring& call) {
    std::lock_guard<std::mutex> guard(lock);
    calls.push_back(call);
}

bool FakePlatform::LookUpDrive(const wchar_t* path, FakeDrive& drive) const {
    std::lock_guard<std::mutex> guard(lock);
    if (path == nullptr || path[0] == L'\0') {
        return false;
    }
    const auto found = drives.find(static_cast<wchar_t>(std::towupper(path[0])));
    if (found == drives.end()) {
        return false;
    }
    drive = found->second;
    return true;
}

HANDLE FakePlatform::OpenDevice(wchar_t letter) {
    std::lock_guard<std::mutex> guard(lock);
    const HANDLE handle = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(nextHandle++));
    openHandles[handle] = static_cast<wchar_t>(std::towupper(letter));
    return handle;
}

bool FakePlatform::CloseDevice(HANDLE handle) {
    std::lock_guard<std::mutex> guard(lock);
    return openHandles.erase(handle) == 1;
}

bool FakePlatform::DriveOfHandle(HANDLE handle, FakeDrive& drive) const {
    std::lock_guard<std::mutex> guard(lock);
    const auto open = openHandles.find(handle);
    if (open == openHandles.end()) {
        return false;
    }
    drive = drives.at(open->second);
    return true;
}

std::wstring FakePlatform::SystemDirectory(DWORD& error) const {
    std::lock_guard<std::mutex> guard(lock);
    error = systemDirectoryError;
    return systemDirectory;
}

DWORD FakePlatform::SessionId() const {
    std::lock_guard<std::mutex> guard(lock);
    return sessionId;
}

bool FakePlatform::VersionQueryAvailable() const {
    std::lock_guard<std::mutex> guard(lock);
    return versionQueryAvailable;
}

bool FakePlatform::FillVersion(OSVERSIONINFOW* info) const {
    std::lock_guard<std::mutex> guard(lock);
    if (versionQueryFails || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOEXW)) {
        return false;
    }
    info->dwMajorVersion = osMajor;
    info->dwMinorVersion = osMinor;
    return true;
}

bool FakePlatform::ThreadErrorModeAvailable() const {
    std::lock_guard<std::mutex> guard(lock);
    return threadErrorModeAvailable;
}

}  // namespace fakes

// The platform layer, answered from the script.
namespace platform {
namespace {

fakes::FakePlatform& Fake() {
    return fakes::FakePlatform::Get();
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

BOOL WINAPI FakeGetVersionExW(OSVERSIONINFOW* info) {
    Fake().Record(L"GetVersionExW");
    return Fake().FillVersion(info) ? TRUE : Fail(ERROR_INVALID_PARAMETER);
}

}  // namespace

UINT GetDriveTypeW(const wchar_t* rootPath) {
    Fake().Record(std::wstring(L"GetDriveTypeW ") + rootPath);
    fakes::FakeDrive drive;
    return Fake().LookUpDrive(rootPath, drive) ? drive.driveType : DRIVE_NO_ROOT_DIR;
}

BOOL GetDiskFreeSpaceExW(const wchar_t* rootPath, ULARGE_INTEGER* freeBytesToCaller,
                         ULARGE_INTEGER* totalBytes, ULARGE_INTEGER* totalFreeBytes) {
    Fake().Record(std::wstring(L"GetDiskFreeSpaceExW ") + rootPath);
    fakes::FakeDrive drive;
    if (!Fake().LookUpDrive(rootPath, drive)) {
        return Fail(ERROR_PATH_NOT_FOUND);
    }
    if (drive.sizeError != 0) {
        return Fail(drive.sizeError);
    }
    freeBytesToCaller->QuadPart = drive.freeBytesToCaller;
    totalBytes->QuadPart = drive.totalBytes;
    totalFreeBytes->QuadPart = drive.totalFreeBytes;
    return TRUE;
}

HANDLE CreateFileW(const wchar_t* name, DWORD access, DWORD shareMode, DWORD disposition,
                   DWORD flags) {
    Fake().Record(std::wstring(L"CreateFileW ") + name + L" " + std::to_wstring(access) + L" " +
                  std::to_wstring(shareMode) + L" " + std::to_wstring(disposition) + L" " +
                  std::to_wstring(flags));
    // Only device names of the form \\.\X: are opened.
    fakes::FakeDrive drive;
    const bool deviceName =
        std::wcslen(name) == 6 && std::wcsncmp(name, L"\\\\.\\", 4) == 0 && name[5] == L':';
    if (!deviceName || !Fake().LookUpDrive(name + 4, drive)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (drive.openError != 0) {
        SetLastError(drive.openError);
        return INVALID_HANDLE_VALUE;
    }
    return Fake().OpenDevice(name[4]);
}

BOOL DeviceIoControl(HANDLE device, DWORD code, void* output, DWORD outputBytes,
                     DWORD* bytesReturned) {
    Fake().Record(L"DeviceIoControl " + std::to_wstring(code) + L" " +
                  std::to_wstring(outputBytes));
    fakes::FakeDrive drive;
    if (!Fake().DriveOfHandle(device, drive)) {
        return Fail(ERROR_INVALID_HANDLE);
    }
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

BOOL CloseHandle(HANDLE handle) {
    Fake().Record(L"CloseHandle");
    return Fake().CloseDevice(handle) ? TRUE : Fail(ERROR_INVALID_HANDLE);
}

UINT GetSystemDirectoryW(wchar_t* buffer, UINT size) {
    Fake().Record(L"GetSystemDirectoryW " + std::to_wstring(size));
    DWORD error = 0;
    const std::wstring directory = Fake().SystemDirectory(error);
    if (error != 0 || directory.size() + 1 > size) {
        SetLastError(error != 0 ? error : ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::wcscpy(buffer, directory.c_str());
    return static_cast<UINT>(directory.size());
}

DWORD WNetGetUniversalNameW(const wchar_t* localPath, DWORD infoLevel, void* buffer,
                            DWORD* bufferBytes) {
    Fake().Record(std::wstring(L"WNetGetUniversalNameW ") + localPath + L" " +
                  std::to_wstring(infoLevel) + L" " + std::to_wstring(*bufferBytes));
    fakes::FakeDrive drive;
    if (!Fake().LookUpDrive(localPath, drive)) {
        return ERROR_BAD_DEVICE;
    }
    if (drive.universalNameError != NO_ERROR) {
        return drive.universalNameError;
    }
    // The name is stored right after the structure, as Windows does.
    auto* info = static_cast<UNIVERSAL_NAME_INFOW*>(buffer);
    auto* text = reinterpret_cast<wchar_t*>(info + 1);
    std::wcscpy(text, drive.universalName.c_str());
    info->lpUniversalName = text;
    return NO_ERROR;
}

DWORD WTSGetActiveConsoleSessionId() {
    Fake().Record(L"WTSGetActiveConsoleSessionId");
    return Fake().SessionId();
}

GetVersionExWFunction FindGetVersionExW() {
    return Fake().VersionQueryAvailable() ? &FakeGetVersionExW : nullptr;
}

// The real per-thread call, so that tests can watch the thread's error mode change and return.
SetThreadErrorModeFunction FindSetThreadErrorMode() {
    if (!Fake().ThreadErrorModeAvailable()) {
        return nullptr;
    }
    return qv::GetProcAddressAs<SetThreadErrorModeFunction>(GetModuleHandleW(L"kernel32"),
                                                            "SetThreadErrorMode");
}

UINT SetErrorMode(UINT mode) {
    Fake().Record(L"SetErrorMode " + std::to_wstring(mode));
    return ::SetErrorMode(mode);
}

}  // namespace platform
