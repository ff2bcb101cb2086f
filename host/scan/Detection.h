#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/scan/Digest.h"

namespace devicescan::scan {

// One file, or one member of an archive in a file, found to match one signature name.
struct Detection {
    std::wstring path;  // as the scan was given it: no \\?\ prefix added
    // Inside an archive: the member's name in each archive from the file on disk inward
    // (UTF-8); empty for the file itself.
    std::vector<std::string> members;
    std::string name;        // the signature's name (UTF-8)
    bool builtin = false;    // the built-in test-file check; then digest is the file's SHA-256
    Digest digest;           // the digest that matched
    std::uint64_t size = 0;  // of the file, or of the member

    // "md5", "sha1", "sha256" or "builtin".
    const char* HashTypeName() const noexcept {
        return builtin ? "builtin" : scan::HashTypeName(digest.type);
    }
};

}  // namespace devicescan::scan
