#pragma once

#include <cstdint>

namespace qv {

// A 128-bit interface identity. In memory it is the 16 bytes of a Windows GUID; the module reads
// them as two little-endian 64-bit halves, the low half first, and compares the high half first.
// Passed by value (on x64 Windows a 16-byte struct travels as a pointer to a copy).
struct InterfaceId {
    std::uint64_t low;
    std::uint64_t high;

    friend constexpr bool operator==(const InterfaceId& a, const InterfaceId& b) {
        return a.high == b.high && a.low == b.low;
    }
};

static_assert(sizeof(InterfaceId) == 16);

}  // namespace qv
