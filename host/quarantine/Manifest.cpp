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
    // A line torn by an earlier failure (a full disk, a crash) is ended first, so that it costs
    // only itself and never the record written after it.
    bool torn = false;
    if (const DWORD error = EndsTorn(*file, torn)) {
        return error;
    }
    const std::string text = torn ? "\n" + line : line;
    if (const DWORD error = file->Write(reinterpret_cast<const std::uint8_t*>(text.data()),
                                        static_cast<std::uint32_t>(text.size()))) {
        return error;
    }
    return file->Flush();
}

DWORD Manifest::EndsTorn(QuarantineFile& file, bool& torn) {
    std::uint64_t size = 0;
    std::uint64_t lastWrite = 0;
    if (const DWORD error = file.Stamp(size, lastWrite)) {
        return error;
    }
    if (size == 0) {
        return 0;
    }
    std::uint8_t last = 0;
    std::uint32_t got = 0;
    if (const DWORD error = file.Seek(size - 1)) {
        return error;
    }
    if (const DWORD error = file.Read(&last, 1, got)) {
        return error;
    }
    torn = got == 1 && last != '\n';
    return 0;
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
