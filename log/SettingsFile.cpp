#include "log/SettingsFile.h"

namespace devicescan::logdll {
namespace {

// Closes a handle when it goes out of scope.
class FileHandle {
  public:
    explicit FileHandle(HANDLE handle) noexcept : handle(handle) {}
    ~FileHandle() {
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        }
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    HANDLE Get() const noexcept { return handle; }

  private:
    HANDLE handle;
};

std::wstring ErrorText(const wchar_t* what, DWORD error) {
    return std::wstring(what) + L" [error = " + std::to_wstring(error) + L"], defaults are used";
}

}  // namespace

SettingsFileStamp StampOf(const std::wstring& path) noexcept {
    SettingsFileStamp stamp;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        stamp.lastWrite = data.ftLastWriteTime;
        stamp.size = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    }
    return stamp;
}

Settings ReadSettingsFile(const std::wstring& path, std::vector<std::wstring>& problems,
                          bool& found) {
    found = false;
    const FileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.Get() == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            problems.push_back(ErrorText(L"cannot read the file", error));
        }
        return {};
    }
    found = true;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.Get(), &size)) {
        problems.push_back(ErrorText(L"cannot read the file", GetLastError()));
        return {};
    }
    if (static_cast<std::uint64_t>(size.QuadPart) > kMaximumSettingsFileBytes) {
        problems.push_back(L"the file is larger than " +
                           std::to_wstring(kMaximumSettingsFileBytes) +
                           L" bytes, defaults are used");
        return {};
    }
    std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!bytes.empty() &&
        !ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) {
        problems.push_back(ErrorText(L"cannot read the file", GetLastError()));
        return {};
    }
    bytes.resize(read);
    return ParseSettings(DecodeSettingsText(bytes), problems);
}

}  // namespace devicescan::logdll
