#pragma once

#include <windows.h>
#include <winioctl.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

// The scriptable stand-in for the platform layer that the unit tests link instead of the Win32
// implementation. Each drive letter is scripted on its own; unscripted letters have no root
// directory. Every call is recorded. Thread-safe: the window thread calls it while tests script.
namespace fakes {

struct FakeDrive {
    UINT driveType = DRIVE_REMOVABLE;
    DWORD openError = 0;     // non-zero: CreateFileW fails with this code
    DWORD hotplugError = 0;  // non-zero: the hot-plug query fails with this code
    STORAGE_HOTPLUG_INFO hotplug{sizeof(STORAGE_HOTPLUG_INFO), 1, 0, 0, 0};
    DWORD sizeError = 0;  // non-zero: GetDiskFreeSpaceExW fails with this code
    ULONGLONG freeBytesToCaller = 6000000000ull;
    ULONGLONG totalBytes = 16000000000ull;
    ULONGLONG totalFreeBytes = 6000000000ull;
    DWORD universalNameError = ERROR_NOT_CONNECTED;  // NO_ERROR: universalName is given
    std::wstring universalName;
};

class FakePlatform {
  public:
    static FakePlatform& Get();

    // Back to a machine with no drives, system directory C:\Windows\system32, session 1,
    // version 6.1, the real per-thread error-mode call, and no recorded calls.
    void Reset();

    // Scripts a drive; the returned reference stays valid until Reset.
    FakeDrive& Drive(wchar_t letter);
    void SetSystemDirectory(const std::wstring& directory, DWORD error = 0);
    void SetSessionId(DWORD sessionId);
    void SetOsVersion(DWORD major, DWORD minor);
    void SetVersionQueryAvailable(bool available);
    void SetVersionQueryFails(bool fails);
    void SetThreadErrorModeAvailable(bool available);

    std::vector<std::wstring> Calls() const;
    int CountCalls(const std::wstring& prefix) const;
    void ClearCalls();
    int OpenDeviceHandles() const;

    // The layer's side, used by the fake's implementation of the platform functions.
    void Record(const std::wstring& call);
    bool LookUpDrive(const wchar_t* path, FakeDrive& drive) const;
    HANDLE OpenDevice(wchar_t letter);
    bool CloseDevice(HANDLE handle);
    bool DriveOfHandle(HANDLE handle, FakeDrive& drive) const;
    std::wstring SystemDirectory(DWORD& error) const;
    DWORD SessionId() const;
    bool VersionQueryAvailable() const;
    bool FillVersion(OSVERSIONINFOW* info) const;
    bool ThreadErrorModeAvailable() const;

  private:
    mutable std::mutex lock;
    std::map<wchar_t, FakeDrive> drives;
    std::map<HANDLE, wchar_t> openHandles;
    std::vector<std::wstring> calls;
    std::wstring systemDirectory;
    DWORD systemDirectoryError = 0;
    DWORD sessionId = 1;
    DWORD osMajor = 6;
    DWORD osMinor = 1;
    bool versionQueryAvailable = true;
    bool versionQueryFails = false;
    bool threadErrorModeAvailable = true;
    unsigned nextHandle = 0x100;
};

}  // namespace fakes
