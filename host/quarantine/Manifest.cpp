#include "host/quarantine/Manifest.h"

#include <mutex>
#include <utility>

namespace devicescan::quarantine {

Manifest::Manifest(QuarantineFileSystem& files, std::wstring folder)
    : files(files), path(std::move(folder) + L"\\" + kFileName) {}

DWORD Manifest::Append(const ManifestRecord& record) {
    const std::string line = record.Line() + "\n";
    std::lock_guard lock(appendLock);
    std::unique_ptr<QuarantineFile> file;
    if (const DWORD error = files.Open(path, QuarantineFileSystem::Access::kAppend, file)) {
        return error;
    }
    if (const DWORD error = file->Write(reinterpret_cast<const std::uint8_t*>(line.data()),
                                        static_cast<std::uint32_t>(line.size()))) {
        return error;
    }
    return file->Flush();
}

DWORD Manifest::ReadAll(std::vector<ManifestRecord>& records, std::size_t& skipped) const {
    std::unique_ptr<QuarantineFile> file;
    if (const DWORD error = files.Open(path, QuarantineFileSystem::Access::kRead, file)) {
        return error;
    }
    std::string text;
    std::uint8_t block[64 * 1024];
    for (;;) {
        std::uint32_t got = 0;
        if (const DWORD error = file->Read(block, sizeof block, got)) {
            return error;
        }
        if (got == 0) {
            break;
        }
        if (text.size() + got > kMaxBytes) {
            return ERROR_FILE_TOO_LARGE;
        }
        text.append(reinterpret_cast<const char*>(block), got);
    }
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string_view line(text.data() + start, end - start);
        if (!line.empty() && line != "\r") {
            if (auto record = ManifestRecord::Parse(line)) {
                records.push_back(std::move(*record));
            } else {
                ++skipped;
            }
        }
        start = end + 1;
    }
    return 0;
}

}  // namespace devicescan::quarantine
