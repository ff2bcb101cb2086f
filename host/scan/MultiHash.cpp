#include "host/scan/MultiHash.h"

#include <windows.h>

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

struct MultiHash::Hashes {
    HashObject of[kHashTypeCount];
};

MultiHash::MultiHash() : hashes(std::make_unique<Hashes>()) {}
MultiHash::~MultiHash() = default;

bool MultiHash::Available() noexcept {
    return Providers::Process().IsValid();
}

bool MultiHash::Begin(HashTypeMask types) {
    Reset();
    if (types != 0 && !Available()) {
        return false;
    }
    for (const HashType type : kAllTypes) {
        if ((types & MaskOf(type)) == 0) {
            continue;
        }
        if (!hashes->of[static_cast<std::size_t>(type)].Begin(type)) {
            Reset();
            return false;
        }
        active |= MaskOf(type);
    }
    return true;
}

bool MultiHash::Add(const std::uint8_t* data, std::size_t size) {
    for (const HashType type : kAllTypes) {
        if ((active & MaskOf(type)) &&
            !hashes->of[static_cast<std::size_t>(type)].Add(data, size)) {
            return false;
        }
    }
    return true;
}

bool MultiHash::Finish(FileDigests& digests) {
    for (const HashType type : kAllTypes) {
        if ((active & MaskOf(type)) == 0) {
            continue;
        }
        if (!hashes->of[static_cast<std::size_t>(type)].Finish(
                digests.digests[static_cast<std::size_t>(type)])) {
            Reset();
            return false;
        }
        digests.present |= MaskOf(type);
    }
    active = 0;
    return true;
}

void MultiHash::Reset() noexcept {
    for (HashObject& hash : hashes->of) {
        hash.Reset();
    }
    active = 0;
}

}  // namespace devicescan::scan
