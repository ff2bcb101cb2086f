#include "host/quarantine/Quarantine.h"

#include <bcrypt.h>

#include <cstdio>
#include <utility>

#include "host/quarantine/VerifiedCopy.h"
#include "host/scan/LongPath.h"
#include "sdk/Utf8.h"

namespace devicescan::quarantine {

namespace {

// Attempts at a name of its own before the folder counts as unwritable.
constexpr int kNameAttempts = 16;

using Result = Quarantine::Result;

Result Failure(const char* reason, DWORD error) {
    Result result;
    result.reason = reason;
    result.error = error;
    return result;
}

std::wstring FullPathOf(const std::wstring& path) {
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) {
        return path;
    }
    std::wstring full(size, L'\0');
    const DWORD written = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    full.resize(written < size ? written : 0);
    while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/')) {
        full.pop_back();
    }
    return full.empty() ? path : full;
}

bool SameDigest(const scan::Digest& a, const scan::Digest& b) {
    return a.type == b.type && a.Hex() == b.Hex();
}

}  // namespace

Quarantine::Quarantine(QuarantineFileSystem& files, std::wstring folder, Mode mode,
                       std::uint32_t blockSize)
    : files(files),
      folder(FullPathOf(folder)),
      mode(mode),
      blockSize(blockSize == 0 ? 1 : blockSize),
      manifest(files, scan::LongPathOf(this->folder)) {}

DWORD Quarantine::Prepare() {
    return files.MakeFolder(scan::LongPathOf(folder));
}

bool Quarantine::Holds(const std::wstring& path) const {
    const std::wstring full = FullPathOf(path);
    const std::wstring prefix = folder + L"\\";
    return full.size() > prefix.size() &&
           CompareStringOrdinal(full.c_str(), static_cast<int>(prefix.size()), prefix.c_str(),
                                static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL;
}

std::wstring Quarantine::NewId() {
    SYSTEMTIME now;
    GetSystemTime(&now);
    std::uint32_t random = 0;
    if (BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&random), sizeof random,
                        BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0) {
        LARGE_INTEGER counter;
        QueryPerformanceCounter(&counter);
        random = static_cast<std::uint32_t>(counter.QuadPart) ^ GetCurrentThreadId() << 16;
    }
    wchar_t id[40];
    std::swprintf(id, 40, L"%04u%02u%02u-%02u%02u%02u-%08x", now.wYear, now.wMonth, now.wDay,
                  now.wHour, now.wMinute, now.wSecond, random);
    return id;
}

Quarantine::Result Quarantine::Put(const Request& request) {
    const std::wstring source = scan::LongPathOf(request.path);
    DWORD attributes = 0;
    if (const DWORD error = files.Attributes(source, attributes)) {
        return Failure("open-failed", error);
    }
    const bool readOnlyVolume = mode == Mode::kMove && files.IsReadOnlyVolume(source);
    const bool deleting = mode == Mode::kMove && !readOnlyVolume;
    // Checked before anything is copied: such a file could be copied but never deleted.
    if (deleting && (attributes & FILE_ATTRIBUTE_READONLY)) {
        return Failure("original-read-only", ERROR_ACCESS_DENIED);
    }
    std::unique_ptr<QuarantineFile> original;
    if (const DWORD error = files.Open(
            source,
            deleting ? QuarantineFileSystem::Access::kMove : QuarantineFileSystem::Access::kRead,
            original)) {
        return Failure(error == ERROR_SHARING_VIOLATION ? "sharing-violation" : "open-failed",
                       error);
    }
    std::uint64_t size = 0;
    std::uint64_t lastWrite = 0;
    if (const DWORD error = original->Stamp(size, lastWrite)) {
        return Failure("read-failed", error);
    }
    if (size != request.size || (request.lastWrite != 0 && lastWrite != request.lastWrite)) {
        return Failure("changed", 0);
    }

    Result result;
    std::unique_ptr<QuarantineFile> copy;
    DWORD error = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < kNameAttempts && error == ERROR_FILE_EXISTS; ++attempt) {
        result.id = NewId();
        result.file = folder + L"\\" + result.id + kExtension;
        error =
            files.Open(scan::LongPathOf(result.file), QuarantineFileSystem::Access::kCreate, copy);
    }
    if (error != 0) {
        return Failure("folder-unwritable", error);
    }
    const std::wstring copyPath = scan::LongPathOf(result.file);
    std::optional<scan::HashType> alsoType;
    if (request.digest && request.digest->type != scan::HashType::kSha256) {
        alsoType = request.digest->type;
    }
    const VerifiedCopy::Outcome copied =
        VerifiedCopy::Run(files, *original, std::move(copy), copyPath, blockSize, alsoType);
    if (copied.failure != nullptr) {
        return Failure(copied.failure, copied.error);
    }
    const scan::Digest& seen = alsoType ? *copied.also : copied.sha256;
    if (copied.bytes != request.size || (request.digest && !SameDigest(seen, *request.digest))) {
        files.Delete(copyPath);
        return Failure("changed", 0);
    }

    ManifestRecord record;
    record.id = result.id;
    record.time = ManifestRecord::Now();
    record.original = FullPathOf(request.path);  // a restore may run from another folder
    record.file = result.id + kExtension;
    record.size = copied.bytes;
    record.sha256 = qv::FromUtf8(copied.sha256.Hex());
    record.names = request.names;
    record.originalKept = !deleting;
    if (const DWORD failed = manifest.Append(record)) {
        files.Delete(copyPath);
        return Failure("manifest-failed", failed);
    }
    if (!deleting) {
        result.outcome =
            readOnlyVolume ? Result::Outcome::kCopiedReadOnly : Result::Outcome::kCopied;
        return result;
    }
    if (const DWORD failed = original->Delete()) {
        // The original stays: the copy goes, and the manifest says it went.
        files.Delete(copyPath);
        ManifestRecord withdrawn;
        withdrawn.kind = ManifestRecord::Kind::kWithdrawn;
        withdrawn.id = result.id;
        withdrawn.time = ManifestRecord::Now();
        withdrawn.reason = L"delete-failed";
        manifest.Append(withdrawn);
        return Failure("delete-failed", failed);
    }
    result.outcome = Result::Outcome::kMoved;
    return result;
}

}  // namespace devicescan::quarantine
