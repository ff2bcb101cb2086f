#include "host/scan/HashObject.h"

#include <algorithm>
#include <iterator>

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

}  // namespace

bool HashObject::ProvidersAvailable() noexcept {
    return Providers::Process().IsValid();
}

bool HashObject::Begin(HashType type) noexcept {
    Reset();
    this->type = type;
    const BCRYPT_ALG_HANDLE provider = Providers::Process().Of(type);
    return provider != nullptr &&
           Succeeded(BCryptCreateHash(provider, &handle, nullptr, 0, nullptr, 0, 0));
}

bool HashObject::Add(const std::uint8_t* data, std::size_t size) noexcept {
    return handle != nullptr &&
           Succeeded(BCryptHashData(handle, const_cast<PUCHAR>(data), static_cast<ULONG>(size), 0));
}

bool HashObject::Finish(Digest& digest) noexcept {
    digest.type = type;
    const bool done =
        handle != nullptr && Succeeded(BCryptFinishHash(handle, digest.bytes.data(),
                                                        static_cast<ULONG>(DigestSize(type)), 0));
    Reset();
    return done;
}

void HashObject::Reset() noexcept {
    if (handle != nullptr) {
        BCryptDestroyHash(handle);
        handle = nullptr;
    }
}

}  // namespace devicescan::scan
