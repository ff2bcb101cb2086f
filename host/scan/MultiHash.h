#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "host/scan/FileDigests.h"
#include "host/scan/HashType.h"

namespace devicescan::scan {

// Several hashes of one stream at once, with the system's CNG providers (BCrypt MD5, SHA-1,
// SHA-256): each block added goes to every hash type begun.
//
// Threads: one stream at a time, on one thread; the algorithm providers are opened once per
// process and shared.
class MultiHash {
  public:
    MultiHash();
    MultiHash(const MultiHash&) = delete;
    MultiHash& operator=(const MultiHash&) = delete;
    ~MultiHash();

    // Whether the system's providers could be opened (without them nothing can be hashed).
    static bool Available() noexcept;

    // Starts a stream hashed with types (none: Add does nothing); false when a hash could not
    // be created.
    bool Begin(HashTypeMask types);
    bool Add(const std::uint8_t* data, std::size_t size);
    // Ends the stream: the digest of each type begun.
    bool Finish(FileDigests& digests);
    // Drops the stream without a result.
    void Reset() noexcept;
    bool IsActive() const noexcept { return active != 0; }

  private:
    struct Hashes;
    std::unique_ptr<Hashes> hashes;
    HashTypeMask active = 0;
};

}  // namespace devicescan::scan
