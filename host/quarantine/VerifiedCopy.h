#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "host/quarantine/QuarantineFileSystem.h"
#include "host/scan/Digest.h"
#include "host/scan/HashType.h"

namespace devicescan::quarantine {

// Copies an open file into a newly created one and proves the copy: every block read is hashed
// (SHA-256, and one more type when asked) and written, the copy is flushed and closed, then read
// back and its SHA-256 compared. Any failure removes the copy. Used both to take a file into the
// quarantine and to put it back.
//
// Threads: the caller's.
class VerifiedCopy {
  public:
    struct Outcome {
        const char* failure = nullptr;  // nullptr: the copy is proven; else the failed step
        DWORD error = 0;                // the Win32 code of that step, when a call failed
        std::uint64_t bytes = 0;
        scan::Digest sha256;               // of the bytes read from the source
        std::optional<scan::Digest> also;  // of the same bytes, of the type asked for
    };

    // Reads source from its current position to its end into target (just created at
    // targetPath, which the copy owns from now on).
    static Outcome Run(QuarantineFileSystem& files, QuarantineFile& source,
                       std::unique_ptr<QuarantineFile> target, const std::wstring& targetPath,
                       std::uint32_t blockSize, std::optional<scan::HashType> alsoType);
};

}  // namespace devicescan::quarantine
