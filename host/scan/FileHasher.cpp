#include "host/scan/FileHasher.h"

#include <bcrypt.h>

#include <algorithm>

namespace devicescan::scan {

namespace {

bool Succeeded(NTSTATUS status) noexcept {
    return status >= 0;
}

// The three algorithm providers, opened once for the process and never closed (the system
// frees them with the process; closing them at exit could race a worker left behind).
class Providers {
  public:
    static const Providers& Process() {
        static const Providers providers;
        return providers;
    }
    BCRYPT_ALG_HANDLE Of(HashType type) const noexcept {
        return handles[static_cast<std::size_t>(type)];
    }
    bool IsValid() const noexcept {
        return std::all_of(std::begin(handles), std::end(handles),
                           [](BCRYPT_ALG_HANDLE h) { return h != nullptr; });
    }

  private:
    Providers() {
        Open(HashType::kMd5, BCRYPT_MD5_ALGORITHM);
        Open(HashType::kSha1, BCRYPT_SHA1_ALGORITHM);
        Open(HashType::kSha256, BCRYPT_SHA256_ALGORITHM);
    }
    void Open(HashType type, const wchar_t* algorithm) {
        BCRYPT_ALG_HANDLE handle = nullptr;
        if (Succeeded(BCryptOpenAlgorithmProvider(&handle, algorithm, nullptr, 0))) {
            handles[static_cast<std::size_t>(type)] = handle;
        }
    }
    BCRYPT_ALG_HANDLE handles[kHashTypeCount] = {};
};

// One running hash computation; destroyed with its owner.
class HashObject {
  public:
    HashObject() noexcept = default;
    HashObject(const HashObject&) = delete;
    HashObject& operator=(const HashObject&) = delete;
    ~HashObject() { Reset(); }

    bool Begin(HashType type) noexcept {
        Reset();
        this->type = type;
        return Succeeded(
            BCryptCreateHash(Providers::Process().Of(type), &handle, nullptr, 0, nullptr, 0, 0));
    }
    bool Add(const std::uint8_t* data, std::size_t size) noexcept {
        return Succeeded(
            BCryptHashData(handle, const_cast<PUCHAR>(data), static_cast<ULONG>(size), 0));
    }
    bool Finish(Digest& digest) noexcept {
        digest.type = type;
        const bool done = Succeeded(
            BCryptFinishHash(handle, digest.bytes.data(), static_cast<ULONG>(DigestSize(type)), 0));
        Reset();
        return done;
    }
    bool IsActive() const noexcept { return handle != nullptr; }
    void Reset() noexcept {
        if (handle != nullptr) {
            BCryptDestroyHash(handle);
            handle = nullptr;
        }
    }

  private:
    BCRYPT_HASH_HANDLE handle = nullptr;
    HashType type = HashType::kSha256;
};

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
    return Providers::Process().IsValid();
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
