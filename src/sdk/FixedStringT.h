#pragma once

#include <cstddef>
#include <cstring>

#include "sdk/StringT.h"

namespace qv {

// A String whose bookkeeping and first buffer (260 characters, the Windows path limit) lie inside
// the object, so that short system paths never touch the heap. Growing past the inline buffer
// moves the text to a heap block of the default manager; the bookkeeping stays inline.
// For local objects only: it is neither copied nor moved.
class FixedStringT final : public String {
  public:
    static constexpr Size kInlineCapacity = 260;

    FixedStringT() noexcept
        : inlineData{StringMemMgr::Default(), 0, kInlineCapacity, kInlineCapacity, 0, 0} {
        std::memset(inlineBlock, 0, sizeof(inlineBlock));
        WriteBlockHeader(inlineBlock, &inlineData, kInlineCapacity);
        text_ = TextOf(inlineBlock);
    }
    FixedStringT(const FixedStringT&) = delete;
    FixedStringT& operator=(const FixedStringT&) = delete;
    ~FixedStringT() { ReleaseBlock(); }

    using String::operator=;

    // True while the text still lives in the inline buffer.
    bool UsesInlineBuffer() const noexcept {
        return text_ == TextOf(const_cast<std::byte*>(inlineBlock));
    }

  private:
    StringData inlineData;
    alignas(8) std::byte inlineBlock[BlockBytes(kInlineCapacity)];
};

}  // namespace qv
