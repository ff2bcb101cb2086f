#pragma once

#include <cstdint>

#include "sdk/IMemMgr.h"

namespace qv {

// Bookkeeping of one string, reached through the header of its buffer block.
struct StringData {
    IMemMgr* memMgr;
    std::uint64_t length;     // characters of text, also terminated by a 0 at this index
    std::uint64_t capacity;   // characters that fit, terminator not counted
    std::uint64_t growBy;     // minimum growth step in characters
    std::uint8_t ownsBuffer;  // 1: the block came from memMgr and goes back to it
    std::uint8_t
        ownsData;  // 1: this StringData came from StringDataPool and goes back with the buffer
};

}  // namespace qv
