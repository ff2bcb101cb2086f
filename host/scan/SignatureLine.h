#pragma once

#include <cstdint>
#include <limits>
#include <string>

#include "host/scan/Digest.h"

namespace devicescan::scan {

// One signature as a database line gives it, before it is stored.
struct SignatureLine {
    // The size of a signature that matches a file of any size ("*").
    static constexpr std::uint64_t kAnySize = std::numeric_limits<std::uint64_t>::max();

    Digest digest;
    std::uint64_t size = kAnySize;
    // As written in the database (UTF-8). An unnamed plain-list entry has an empty name and
    // the list's stem in listStem: it is reported as "<listStem>.<first 12 hex digits>".
    std::string name;
    std::string listStem;
};

}  // namespace devicescan::scan
