#include "host/quarantine/VerifiedCopy.h"

#include <vector>

#include "host/scan/HashObject.h"

namespace devicescan::quarantine {

namespace {

bool IsFull(DWORD error) {
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL ||
           error == ERROR_NOT_ENOUGH_QUOTA;
}

// Hashes the whole of an open file with SHA-256.
DWORD HashAll(QuarantineFile& file, std::vector<std::uint8_t>& block, scan::Digest& digest) {
    scan::HashObject hash;
    if (!hash.Begin(scan::HashType::kSha256)) {
        return ERROR_NOT_SUPPORTED;
    }
    for (;;) {
        std::uint32_t got = 0;
        if (const DWORD error =
                file.Read(block.data(), static_cast<std::uint32_t>(block.size()), got)) {
            return error;
        }
        if (got == 0) {
            return hash.Finish(digest) ? 0 : ERROR_NOT_SUPPORTED;
        }
        hash.Add(block.data(), got);
    }
}

VerifiedCopy::Outcome Failed(QuarantineFileSystem& files, const std::wstring& targetPath,
                             const char* step, DWORD error) {
    files.Delete(targetPath);
    VerifiedCopy::Outcome outcome;
    outcome.failure = step;
    outcome.error = error;
    return outcome;
}

}  // namespace

VerifiedCopy::Outcome VerifiedCopy::Run(QuarantineFileSystem& files, QuarantineFile& source,
                                        std::unique_ptr<QuarantineFile> target,
                                        const std::wstring& targetPath, std::uint32_t blockSize,
                                        std::optional<scan::HashType> alsoType) {
    std::vector<std::uint8_t> block(blockSize);
    scan::HashObject sha256;
    scan::HashObject also;
    if (!sha256.Begin(scan::HashType::kSha256) || (alsoType && !also.Begin(*alsoType))) {
        target.reset();
        return Failed(files, targetPath, "hash-failed", ERROR_NOT_SUPPORTED);
    }
    Outcome outcome;
    for (;;) {
        std::uint32_t got = 0;
        if (const DWORD error = source.Read(block.data(), blockSize, got)) {
            target.reset();
            return Failed(files, targetPath, "read-failed", error);
        }
        if (got == 0) {
            break;
        }
        sha256.Add(block.data(), got);
        if (alsoType) {
            also.Add(block.data(), got);
        }
        if (const DWORD error = target->Write(block.data(), got)) {
            target.reset();
            return Failed(files, targetPath, IsFull(error) ? "folder-full" : "write-failed", error);
        }
        outcome.bytes += got;
    }
    if (const DWORD error = target->Flush()) {
        target.reset();
        return Failed(files, targetPath, IsFull(error) ? "folder-full" : "flush-failed", error);
    }
    target.reset();
    sha256.Finish(outcome.sha256);
    if (alsoType) {
        outcome.also.emplace();
        also.Finish(*outcome.also);
    }
    std::unique_ptr<QuarantineFile> written;
    scan::Digest reread;
    DWORD error = files.Open(targetPath, QuarantineFileSystem::Access::kRead, written);
    if (error == 0) {
        error = HashAll(*written, block, reread);
    }
    written.reset();
    if (error != 0) {
        return Failed(files, targetPath, "verify-failed", error);
    }
    if (reread.bytes != outcome.sha256.bytes) {
        return Failed(files, targetPath, "verify-failed", 0);
    }
    return outcome;
}

}  // namespace devicescan::quarantine
