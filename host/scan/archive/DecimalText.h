#pragma once

#include <cstdint>
#include <string_view>

namespace devicescan::scan::archive {

// A decimal number as headers and database lines write one: digits only, no sign, no blanks, at
// most 19 of them (so it always fits). False for anything else, value then undefined.
inline bool ParseDecimal(std::string_view text, std::uint64_t& value) noexcept {
    if (text.empty() || text.size() > 19) {
        return false;
    }
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return true;
}

}  // namespace devicescan::scan::archive
