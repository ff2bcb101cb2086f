#include "host/quarantine/Win32FileSystem.h"

#include <vector>

#include "sdk/UniqueHandle.h"

namespace devicescan::quarantine {

namespace {

DWORD ErrorOr(BOOL ok) {
    return ok ? 0 : GetLastError();
}

class Win32File final : public QuarantineFile {
  public:
    explicit Win32File(qv::UniqueHandle handle) : handle(std::move(handle)) {}

    DWORD Read(std::uint8_t* data, std::uint32_t size, std::uint32_t& got) override {
        DWORD read = 0;
        const BOOL ok = ReadFile(handle.Get(), data, size, &read, nullptr);
        got = ok ? read : 0;
        return ErrorOr(ok);
    }

    DWORD Write(const std::uint8_t* data, std::uint32_t size) override {
        while (size != 0) {
            DWORD written = 0;
            if (!WriteFile(handle.Get(), data, size, &written, nullptr)) {
                return GetLastError();
            }
            if (written == 0) {
                return ERROR_WRITE_FAULT;
            }
            data += written;
            size -= written;
        }
        return 0;
    }

    DWORD Seek(std::uint64_t offset) override {
        LARGE_INTEGER to;
        to.QuadPart = static_cast<LONGLONG>(offset);
        return ErrorOr(SetFilePointerEx(handle.Get(), to, nullptr, FILE_BEGIN));
    }

    DWORD Flush() override { return ErrorOr(FlushFileBuffers(handle.Get())); }

    DWORD Stamp(std::uint64_t& size, std::uint64_t& lastWrite) override {
        BY_HANDLE_FILE_INFORMATION info;
        if (!GetFileInformationByHandle(handle.Get(), &info)) {
            return GetLastError();
        }
        size = std::uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow;
        lastWrite = std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32 |
                    info.ftLastWriteTime.dwLowDateTime;
        return 0;
    }

    DWORD Delete() override {
        FILE_DISPOSITION_INFO disposition{TRUE};
        return ErrorOr(SetFileInformationByHandle(handle.Get(), FileDispositionInfo, &disposition,
                                                  sizeof disposition));
    }

  private:
    qv::UniqueHandle handle;
};

}  // namespace

DWORD Win32FileSystem::Open(const std::wstring& path, Access access,
                            std::unique_ptr<QuarantineFile>& file) {
    DWORD rights = GENERIC_READ;
    DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    DWORD disposition = OPEN_EXISTING;
    switch (access) {
        case Access::kRead:
            break;
        case Access::kMove:
            rights = GENERIC_READ | DELETE;
            share = FILE_SHARE_READ;
            break;
        case Access::kCreate:
            rights = GENERIC_WRITE;
            share = 0;
            disposition = CREATE_NEW;
            break;
        case Access::kAppend:
            rights = FILE_READ_DATA | FILE_APPEND_DATA | SYNCHRONIZE;
            share = FILE_SHARE_READ;
            disposition = OPEN_ALWAYS;
            break;
    }
    qv::UniqueHandle handle(CreateFileW(path.c_str(), rights, share, nullptr, disposition,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN,
                                        nullptr));
    if (!handle.IsValid()) {
        return GetLastError();
    }
    file = std::make_unique<Win32File>(std::move(handle));
    return 0;
}

DWORD Win32FileSystem::Delete(const std::wstring& path) {
    return ErrorOr(DeleteFileW(path.c_str()));
}

DWORD Win32FileSystem::Attributes(const std::wstring& path, DWORD& attributes) {
    attributes = GetFileAttributesW(path.c_str());
    return attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : 0;
}

DWORD Win32FileSystem::MakeFolder(const std::wstring& path) {
    if (CreateDirectoryW(path.c_str(), nullptr)) {
        return 0;
    }
    const DWORD error = GetLastError();
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (error == ERROR_ALREADY_EXISTS && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return 0;
    }
    return error;
}

bool Win32FileSystem::IsReadOnlyVolume(const std::wstring& path) {
    std::vector<wchar_t> root(path.size() + 2);
    if (!GetVolumePathNameW(path.c_str(), root.data(), static_cast<DWORD>(root.size()))) {
        return false;
    }
    if (GetDriveTypeW(root.data()) == DRIVE_CDROM) {
        return true;
    }
    DWORD flags = 0;
    return GetVolumeInformationW(root.data(), nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
           (flags & FILE_READ_ONLY_VOLUME);
}

}  // namespace devicescan::quarantine
