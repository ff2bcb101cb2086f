#include "host/scan/FileHasher.h"

#include <algorithm>

#include "host/scan/HashObject.h"

namespace devicescan::scan {

namespace {

constexpr HashType kAllTypes[] = {HashType::kMd5, HashType::kSha1, HashType::kSha256};

}  // namespace

struct FileHasher::State {
    std::vector<std::uint8_t> block = std::vector<std::uint8_t>(kBlockSize);
    HashObject hashes[kHashTypeCount];

    bool BeginAll(HashTypeMask types) {
        for (const HashType type : kAllTypes) {
            if ((types & MaskOf(type)) && !hashes[static_cast<std::size_t>(type)].Begin(type)) {
                return false;
            }
        }
        return true;
    }
    bool AddAll(std::size_t size) {
        for (HashObject& hash : hashes) {
            if (hash.IsActive() && !hash.Add(block.data(), size)) {
                return false;
            }
        }
        return true;
    }
    bool FinishAll(FileDigests& digests) {
        for (const HashType type : kAllTypes) {
            HashObject& hash = hashes[static_cast<std::size_t>(type)];
            if (!hash.IsActive()) {
                continue;
            }
            if (!hash.Finish(digests.digests[static_cast<std::size_t>(type)])) {
                return false;
            }
            digests.present |= MaskOf(type);
        }
        return true;
    }
    void ResetAll() {
        for (HashObject& hash : hashes) {
            hash.Reset();
        }
    }
};

FileHasher::FileHasher() : state(std::make_unique<State>()) {}
FileHasher::~FileHasher() = default;

bool FileHasher::IsValid() const noexcept {
    return HashObject::ProvidersAvailable();
}

FileHasher::Result FileHasher::Hash(HANDLE file, HashTypeMask types, const CancelFlag& cancel) {
    Result result;
    const auto fail = [&](DWORD error) {
        state->ResetAll();
        result.outcome = Outcome::kReadFailed;
        result.error = error;
        return result;
    };
    if (!IsValid() || !state->BeginAll(types)) {
        return fail(ERROR_NOT_SUPPORTED);
    }
    for (;;) {
        if (cancel.IsSet()) {
            state->ResetAll();
            result.outcome = Outcome::kCancelled;
            return result;
        }
        DWORD read = 0;
        if (!ReadFile(file, state->block.data(), static_cast<DWORD>(kBlockSize), &read, nullptr)) {
            return fail(GetLastError());
        }
        if (read == 0) {
            break;
        }
        if (result.head.size() < kHeadSize) {
            const std::size_t take = std::min<std::size_t>(kHeadSize - result.head.size(), read);
            result.head.insert(result.head.end(), state->block.begin(),
                               state->block.begin() + take);
        }
        result.bytesRead += read;
        if (!state->AddAll(read)) {
            return fail(ERROR_INVALID_DATA);
        }
    }
    if (!state->FinishAll(result.digests)) {
        return fail(ERROR_INVALID_DATA);
    }
    return result;
}

bool FileHasher::HashBytes(HashType type, const void* data, std::size_t size, Digest& digest) {
    HashObject hash;
    return hash.Begin(type) && hash.Add(static_cast<const std::uint8_t*>(data), size) &&
           hash.Finish(digest);
}

}  // namespace devicescan::scan
