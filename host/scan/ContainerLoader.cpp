#include "host/scan/ContainerLoader.h"

#include <windows.h>

#include "host/scan/LongPath.h"
#include "sdk/SystemMessage.h"
#include "sdk/UniqueHandle.h"
#include "sdk/Utf8.h"

namespace devicescan::scan {

namespace {

qv::UniqueHandle OpenContainer(const std::wstring& path) {
    return qv::UniqueHandle(CreateFileW(LongPathOf(path).c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

// Reads up to size bytes from where file stands; the count, or nothing when a read failed.
std::optional<std::size_t> ReadUpTo(HANDLE file, char* buffer, std::size_t size) {
    std::size_t total = 0;
    while (total < size) {
        DWORD read = 0;
        if (!ReadFile(file, buffer + total, static_cast<DWORD>(size - total), &read, nullptr)) {
            return std::nullopt;
        }
        if (read == 0) {
            break;
        }
        total += read;
    }
    return total;
}

std::optional<DatabaseError> ParseHeaderOf(const std::wstring& path, HANDLE file,
                                           ContainerHeader& header) {
    char bytes[ContainerHeader::kSize];
    const auto read = ReadUpTo(file, bytes, sizeof bytes);
    if (!read) {
        return DatabaseError{path, 0, L"cannot read: " + qv::DescribeError(GetLastError())};
    }
    std::string problem;
    if (!ContainerHeader::Parse(std::string_view(bytes, *read), header, problem)) {
        return DatabaseError{path, 0, qv::FromUtf8(problem)};
    }
    return std::nullopt;
}

}  // namespace

std::optional<DatabaseError> ContainerLoader::ReadHeader(const std::wstring& path,
                                                         ContainerHeader& header) {
    const qv::UniqueHandle file = OpenContainer(path);
    if (!file.IsValid()) {
        return DatabaseError{path, 0, L"cannot read: " + qv::DescribeError(GetLastError())};
    }
    return ParseHeaderOf(path, file.Get(), header);
}

std::optional<DatabaseError> ContainerLoader::Load(const std::wstring& path) {
    ContainerHeader header;
    if (auto error = ReadHeader(path, header)) {
        return error;
    }
    return DatabaseError{path, 0, L"containers cannot be unpacked yet"};
}

}  // namespace devicescan::scan
