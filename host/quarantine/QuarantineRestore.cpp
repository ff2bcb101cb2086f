#include "host/quarantine/QuarantineRestore.h"

#include <vector>

#include "host/quarantine/VerifiedCopy.h"
#include "host/scan/LongPath.h"
#include "sdk/Utf8.h"

namespace devicescan::quarantine {

namespace {

constexpr std::uint32_t kBlockSize = 1u << 20;

using Result = QuarantineRestore::Result;

Result Refusal(std::wstring original, const char* reason, DWORD error) {
    Result result;
    result.original = std::move(original);
    result.reason = reason;
    result.error = error;
    return result;
}

}  // namespace

QuarantineRestore::QuarantineRestore(QuarantineFileSystem& files, const std::wstring& folder)
    : files(files), folder(scan::LongPathOf(folder)), manifest(files, this->folder) {}

QuarantineRestore::Result QuarantineRestore::Restore(const std::wstring& id) {
    std::vector<ManifestRecord> records;
    std::size_t skipped = 0;
    if (const DWORD error = manifest.ReadAll(records, skipped)) {
        return Refusal(L"", "manifest-unreadable", error);
    }
    const ManifestRecord* entry = nullptr;
    bool over = false;  // restored or withdrawn since
    for (const ManifestRecord& record : records) {
        if (record.id != id) {
            continue;
        }
        if (record.kind == ManifestRecord::Kind::kQuarantined) {
            entry = &record;
            over = false;
        } else if (entry != nullptr) {
            over = true;
        }
    }
    if (entry == nullptr) {
        return Refusal(L"", "unknown-id", 0);
    }
    if (over) {
        return Refusal(entry->original, "not-in-quarantine", 0);
    }
    // The file name comes from the manifest: only a plain name inside the folder is taken.
    if (entry->file.find_first_of(L"\\/:") != std::wstring::npos || entry->file == L".." ||
        entry->file == L".") {
        return Refusal(entry->original, "unsafe-file-name", 0);
    }
    const std::wstring target = scan::LongPathOf(entry->original);
    DWORD attributes = 0;
    if (files.Attributes(target, attributes) == 0) {
        return Refusal(entry->original, "target-exists", ERROR_FILE_EXISTS);
    }
    const std::wstring held = folder + L"\\" + entry->file;
    std::unique_ptr<QuarantineFile> source;
    if (const DWORD error = files.Open(held, QuarantineFileSystem::Access::kRead, source)) {
        return Refusal(entry->original, "missing-file", error);
    }
    std::unique_ptr<QuarantineFile> copy;
    if (const DWORD error = files.Open(target, QuarantineFileSystem::Access::kCreate, copy)) {
        return Refusal(entry->original,
                       error == ERROR_FILE_EXISTS ? "target-exists" : "target-unwritable", error);
    }
    const VerifiedCopy::Outcome copied =
        VerifiedCopy::Run(files, *source, std::move(copy), target, kBlockSize, std::nullopt);
    source.reset();
    if (copied.failure != nullptr) {
        return Refusal(entry->original, copied.failure, copied.error);
    }
    if (copied.bytes != entry->size || qv::FromUtf8(copied.sha256.Hex()) != entry->sha256) {
        files.Delete(target);
        return Refusal(entry->original, "changed", 0);
    }
    ManifestRecord restored;
    restored.kind = ManifestRecord::Kind::kRestored;
    restored.id = id;
    restored.time = ManifestRecord::Now();
    if (const DWORD error = manifest.Append(restored)) {
        files.Delete(target);
        return Refusal(entry->original, "manifest-failed", error);
    }
    Result result;
    result.restored = true;
    result.original = entry->original;
    result.leftInQuarantine = files.Delete(held) != 0;
    return result;
}

}  // namespace devicescan::quarantine
