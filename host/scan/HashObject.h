#pragma once

#include <windows.h>

#include <bcrypt.h>

#include <cstddef>
#include <cstdint>

#include "host/scan/Digest.h"
#include "host/scan/HashType.h"

namespace devicescan::scan {

// One running hash computation through the system's CNG providers (BCrypt MD5, SHA-1, SHA-256),
// destroyed with its owner. The providers are opened once for the process and shared.
//
// Threads: one owner at a time.
class HashObject {
  public:
    HashObject() noexcept = default;
    HashObject(const HashObject&) = delete;
    HashObject& operator=(const HashObject&) = delete;
    ~HashObject() { Reset(); }

    // Whether the process has all three providers (when not, every Begin fails).
    static bool ProvidersAvailable() noexcept;

    // Starts a new computation, dropping any running one.
    bool Begin(HashType type) noexcept;
    bool Add(const std::uint8_t* data, std::size_t size) noexcept;
    // Ends the computation; digest gets the type and the value.
    bool Finish(Digest& digest) noexcept;
    bool IsActive() const noexcept { return handle != nullptr; }
    void Reset() noexcept;

  private:
    BCRYPT_HASH_HANDLE handle = nullptr;
    HashType type = HashType::kSha256;
};

}  // namespace devicescan::scan
