#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "host/scan/CancelFlag.h"
#include "host/scan/FileDigests.h"
#include "host/scan/HashType.h"

namespace devicescan::scan {

// Hashes an open file in one sequential pass of large blocks with the system's CNG providers
// (BCrypt MD5, SHA-1, SHA-256), feeding each block only to the hash types asked for. It also
// keeps the first bytes of the file, for the built-in check of small files.
//
// Threads: one hasher per scanning thread (it owns its block buffer and hash objects); the
// algorithm providers are opened once per process and shared.
class FileHasher {
  public:
    static constexpr std::size_t kBlockSize = 1 << 20;
    static constexpr std::size_t kHeadSize = 128;

    enum class Outcome { kHashed, kCancelled, kReadFailed };
    struct Result {
        Outcome outcome = Outcome::kHashed;
        std::uint32_t error = 0;  // kReadFailed: the Win32 code
        std::uint64_t bytesRead = 0;
        FileDigests digests;
        std::vector<std::uint8_t> head;  // the first kHeadSize bytes (fewer for a smaller file)
    };

    FileHasher();
    FileHasher(const FileHasher&) = delete;
    FileHasher& operator=(const FileHasher&) = delete;
    ~FileHasher();

    // False when the providers or the buffer could not be had (then Hash fails every file).
    bool IsValid() const noexcept;

    // Reads file from its current position to its end; cancel is checked before each block.
    Result Hash(HANDLE file, HashTypeMask types, const CancelFlag& cancel);

    // The digest of bytes in memory (tests, the benchmark's in-memory baseline).
    static bool HashBytes(HashType type, const void* data, std::size_t size, Digest& digest);

  private:
    struct State;
    std::unique_ptr<State> state;
};

}  // namespace devicescan::scan
