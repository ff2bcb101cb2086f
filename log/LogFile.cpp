#include "log/LogFile.h"

#include <algorithm>

namespace devicescan::logdll {
namespace {

std::wstring BackupName(const std::wstring& path, std::uint32_t number) {
    return path + L"." + std::to_wstring(number);
}

// Creates the directory of path and its missing parents; failures show when the file is opened.
void CreateParentDirectories(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos || slash == 0) {
        return;
    }
    const std::wstring directory = path.substr(0, slash);
    if (GetFileAttributesW(directory.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return;
    }
    CreateParentDirectories(directory);
    CreateDirectoryW(directory.c_str(), nullptr);
}

}  // namespace

DWORD LogFile::Open(const std::wstring& newPath) {
    Close();
    path = newPath;
    DWORD error = OpenHandle(OPEN_ALWAYS);
    if (error == ERROR_PATH_NOT_FOUND) {
        CreateParentDirectories(path);
        error = OpenHandle(OPEN_ALWAYS);
    }
    return error;
}

DWORD LogFile::OpenHandle(DWORD disposition) {
    handle = CreateFileW(path.c_str(), FILE_APPEND_DATA,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return GetLastError();
    }
    LARGE_INTEGER fileSize{};
    GetFileSizeEx(handle, &fileSize);
    size = static_cast<std::uint64_t>(fileSize.QuadPart) + pending.size();
    return ERROR_SUCCESS;
}

void LogFile::Close() noexcept {
    if (!IsOpen()) {
        return;
    }
    Flush();
    CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
}

void LogFile::Append(std::string_view bytes) {
    if (!IsOpen()) {
        return;
    }
    pending.append(bytes);
    size += bytes.size();
}

DWORD LogFile::Flush() noexcept {
    if (pending.empty() || !IsOpen()) {
        return ERROR_SUCCESS;
    }
    DWORD error = ERROR_SUCCESS;
    const char* data = pending.data();
    std::size_t left = pending.size();
    while (left > 0) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(left, 1u << 30));
        if (!WriteFile(handle, data, chunk, &written, nullptr) || written == 0) {
            error = GetLastError();
            size -= left;
            break;
        }
        data += written;
        left -= written;
    }
    pending.clear();
    return error;
}

DWORD LogFile::Rotate(std::uint32_t backups) {
    Close();
    if (backups == 0) {
        return OpenHandle(CREATE_ALWAYS);
    }
    DeleteFileW(BackupName(path, backups).c_str());
    for (std::uint32_t number = backups - 1; number >= 1; --number) {
        MoveFileExW(BackupName(path, number).c_str(), BackupName(path, number + 1).c_str(),
                    MOVEFILE_REPLACE_EXISTING);
    }
    const DWORD renameError =
        MoveFileExW(path.c_str(), BackupName(path, 1).c_str(), MOVEFILE_REPLACE_EXISTING)
            ? ERROR_SUCCESS
            : GetLastError();
    const DWORD openError = OpenHandle(OPEN_ALWAYS);
    return renameError != ERROR_SUCCESS ? renameError : openError;
}

}  // namespace devicescan::logdll
