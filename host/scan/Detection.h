#pragma once

#include <cstdint>
#include <string>

#include "host/scan/Digest.h"

namespace devicescan::scan {

// One file found to match one signature name.
struct Detection {
    std::wstring path;     // as the scan was given it: no \\?\ prefix added
    std::string name;      // the signature's name (UTF-8)
    bool builtin = false;  // the built-in test-file check; then digest is the file's SHA-256
    Digest digest;         // the digest that matched
    std::uint64_t size = 0;

    // "md5", "sha1", "sha256" or "builtin".
    const char* HashTypeName() const noexcept {
        return builtin ? "builtin" : scan::HashTypeName(digest.type);
    }
};

}  // namespace devicescan::scan
