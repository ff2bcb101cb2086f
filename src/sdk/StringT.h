#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "sdk/ChTraitsCRT.h"
#include "sdk/FatalError.h"
#include "sdk/StringData.h"
#include "sdk/StringDataPool.h"
#include "sdk/StringMemMgr.h"

namespace qv {

// The SDK's guarded string. The object is one pointer: the first character of its text inside a
// buffer block, or null (no buffer: length 0, and GetString gives a shared empty text).
//
// Block layout, byte offsets from the start of the block:
//   0                   u32 guard 0xABCD
//   4                   StringData* (unaligned)
//   12                  u32 guard 0xABCD
//   16                  capacity characters        <- the string's pointer
//   16 + c*cap          terminator slot, always 0 after an allocation
//   16 + c*(cap + 1)    u32 guard 0xABCD (follows the capacity, not the length)
//
// A block belongs to one string: copies are deep, only a move hands a block over. A damaged guard
// word is never used further; it is the library's fatal error. kVariant selects the guarded
// flavour, the only one this SDK has.
//
// Threads: none of its own. One string is used by one thread at a time.
template <typename CharT, typename MemMgrT, typename TraitsT, int kVariant>
class StringT {
    static_assert(kVariant == 1, "only the guarded string exists");

  public:
    using Size = std::uint64_t;
    // A count of "all bits set" means: up to the terminator.
    static constexpr Size kWholeText = ~Size{0};
    static constexpr Size kDefaultGrowBy = 64;
    static constexpr std::uint32_t kGuard = 0xABCD;

    StringT() noexcept = default;
    explicit StringT(const CharT* text) {
        if (!SetString(text, kWholeText)) {
            RaiseFatalError("string allocation failed");
        }
    }
    StringT(const StringT& other) { CopyFrom(other); }
    StringT(StringT&& other) { MoveFrom(other); }
    ~StringT() { ReleaseBlock(); }

    StringT& operator=(const CharT* text) {
        if (text == nullptr) {
            if (GetCapacity() == 0 && !Preallocate(GrowBy())) {
                RaiseFatalError("string allocation failed");
            }
            Data()->length = 0;
            text_[0] = 0;
        } else if (text != GetString() && !SetString(text, kWholeText)) {
            RaiseFatalError("string allocation failed");
        }
        CheckGuards();
        return *this;
    }
    StringT& operator=(const StringT& other) {
        if (this != &other) {
            CopyFrom(other);
        }
        return *this;
    }
    StringT& operator=(StringT&& other) {
        if (this != &other) {
            MoveFrom(other);
        }
        return *this;
    }

    const CharT* GetString() const noexcept { return text_ ? text_ : kEmptyText; }
    Size GetLength() const noexcept { return text_ ? Data()->length : 0; }
    Size GetCapacity() const noexcept { return text_ ? Data()->capacity : 0; }
    // The bookkeeping behind the buffer, or null without one.
    const StringData* GetData() const noexcept { return text_ ? Data() : nullptr; }

    // Gives the string a buffer of exactly newCapacity characters, keeping its text (cut to the
    // new capacity). False, with the string unchanged, when memory is not available.
    bool Preallocate(Size newCapacity) {
        if (newCapacity > kMaxCapacity) {
            return false;
        }
        bool createdData = false;
        StringData* data = nullptr;
        void* ownedBlock = nullptr;
        const void* copySource = nullptr;
        std::size_t oldBytes = 0;
        if (text_ == nullptr) {
            data = StringDataPool::Take({MemMgrT::Default(), 0, 0, kDefaultGrowBy, 0, 1});
            if (data == nullptr) {
                return false;
            }
            createdData = true;
        } else {
            data = Data();
            oldBytes = BlockBytes(data->capacity);
            if (data->ownsBuffer) {
                ownedBlock = Block();
            } else {
                copySource = Block();
            }
        }

        const std::size_t newBytes = BlockBytes(newCapacity);
        void* block = data->memMgr->Reallocate(ownedBlock, newBytes);
        if (block == nullptr) {
            block = data->memMgr->Allocate(newBytes);
            if (block == nullptr) {
                if (createdData) {
                    StringDataPool::Give(data);
                }
                return false;
            }
            if (ownedBlock != nullptr) {
                std::memcpy(block, ownedBlock, std::min(newBytes, oldBytes));
                data->memMgr->Free(ownedBlock);
            }
        }
        if (ownedBlock == nullptr) {
            std::memset(block, 0, newBytes);
            if (copySource != nullptr) {
                std::memcpy(block, copySource, std::min(newBytes, oldBytes));
            }
        }

        WriteBlockHeader(block, data, newCapacity);
        text_ = TextOf(block);
        text_[newCapacity] = 0;
        data->capacity = newCapacity;
        data->ownsBuffer = 1;
        data->length = std::min(data->length, newCapacity);
        return true;
    }

    // Replaces the text with count characters (kWholeText: up to the terminator; a null text is
    // then empty). False when memory is not available.
    bool SetString(const CharT* text, Size count) {
        if (count == kWholeText) {
            count = TraitsT::Length(text);
        }
        // The text may lie inside our own buffer, which the growth may move.
        const bool ownText = text_ != nullptr && text >= text_ && text <= text_ + GetCapacity();
        const std::ptrdiff_t offset = ownText ? text - text_ : 0;
        if (!EnsureCapacity(count)) {
            return false;
        }
        if (ownText) {
            text = text_ + offset;
        }
        StringData* data = Data();
        if (count > data->capacity) {
            RaiseFatalError("string length beyond capacity");
        }
        if (count != 0) {
            std::memmove(text_, text, static_cast<std::size_t>(count) * sizeof(CharT));
        }
        text_[count] = 0;
        data->length = count;
        return true;
    }

    // Makes room for count characters. Growth at least doubles a buffer below 1024 characters,
    // adds at least 1024 above, and never adds less than growBy; a string without buffer always
    // gets one. False when memory is not available.
    bool EnsureCapacity(Size count) {
        const Size capacity = GetCapacity();
        if (capacity >= count && capacity != 0) {
            return true;
        }
        Size extra = std::max(count - capacity, GrowBy());
        extra = capacity < 1024 ? std::max(extra, capacity) : std::max<Size>(extra, 1024);
        return Preallocate(capacity + extra);
    }

    // Length 0; a string without buffer gets one of growBy characters.
    void Empty() {
        if (text_ == nullptr && !Preallocate(kDefaultGrowBy)) {
            RaiseFatalError("string allocation failed");
        }
        Data()->length = 0;
        text_[0] = 0;
    }

    // Verifies the three guard words of the buffer; a string without buffer passes.
    void CheckGuards() const noexcept {
        if (text_ == nullptr) {
            return;
        }
        const auto* block = static_cast<const std::byte*>(Block());
        if (ReadGuard(block) != kGuard || ReadGuard(block + 12) != kGuard) {
            RaiseFatalError("string guard word broken");
        }
        const auto* trailing = reinterpret_cast<const std::byte*>(text_ + Data()->capacity + 1);
        if (ReadGuard(trailing) != kGuard) {
            RaiseFatalError("string guard word broken");
        }
    }

    // Direct writing by a system call: up to GetCapacity characters plus the terminator. A string
    // without buffer first gets 64 characters; null when even that is not available.
    CharT* GetBuffer() {
        if (text_ == nullptr && !Preallocate(kDefaultGrowBy)) {
            return nullptr;
        }
        return text_;
    }
    // Takes the length from the first 0 written into the buffer.
    void ReleaseBuffer() {
        if (text_ == nullptr) {
            return;
        }
        StringData* data = Data();
        const std::size_t length =
            TraitsT::LengthWithin(text_, static_cast<std::size_t>(data->capacity) + 1);
        if (length > data->capacity) {
            RaiseFatalError("string length beyond capacity");
        }
        data->length = length;
        CheckGuards();
    }

    // The C runtime's case-insensitive comparison (0 means equal); kWholeText compares whole texts,
    // any other count at most that many characters.
    int CompareNoCase(const CharT* text, Size count = kWholeText) const {
        if (count == kWholeText) {
            return TraitsT::CompareNoCase(GetString(), text);
        }
        return TraitsT::CompareNoCase(GetString(), text, static_cast<std::size_t>(count));
    }

  protected:
    static constexpr std::size_t kHeaderBytes = 16;

    static constexpr std::size_t BlockBytes(Size capacity) {
        return kHeaderBytes + sizeof(CharT) * (static_cast<std::size_t>(capacity) + 1) +
               sizeof(std::uint32_t);
    }
    static CharT* TextOf(void* block) {
        return reinterpret_cast<CharT*>(static_cast<std::byte*>(block) + kHeaderBytes);
    }
    static void WriteBlockHeader(void* block, StringData* data, Size capacity) {
        auto* bytes = static_cast<std::byte*>(block);
        WriteGuard(bytes);
        std::memcpy(bytes + 4, &data, sizeof(data));
        WriteGuard(bytes + 12);
        WriteGuard(bytes + kHeaderBytes + sizeof(CharT) * (static_cast<std::size_t>(capacity) + 1));
    }

    // Gives the buffer back: guard check, the block to its manager, Detach, the bookkeeping.
    void ReleaseBlock() noexcept {
        if (text_ == nullptr) {
            return;
        }
        CheckGuards();
        StringData* data = Data();
        IMemMgr* memMgr = data->memMgr;
        if (data->ownsBuffer) {
            memMgr->Free(Block());
        }
        memMgr->Detach();
        if (data->ownsData) {
            StringDataPool::Give(data);
        }
        text_ = nullptr;
    }

    CharT* text_ = nullptr;

  private:
    static constexpr CharT kEmptyText[1] = {};
    static constexpr Size kMaxCapacity = (SIZE_MAX - BlockBytes(0)) / sizeof(CharT) - 1;

    static std::uint32_t ReadGuard(const std::byte* at) {
        std::uint32_t value;
        std::memcpy(&value, at, sizeof(value));
        return value;
    }
    static void WriteGuard(std::byte* at) { std::memcpy(at, &kGuard, sizeof(kGuard)); }

    void* Block() const { return reinterpret_cast<std::byte*>(text_) - kHeaderBytes; }
    StringData* Data() const {
        StringData* data;
        std::memcpy(&data, static_cast<const std::byte*>(Block()) + 4, sizeof(data));
        return data;
    }
    Size GrowBy() const { return text_ ? Data()->growBy : kDefaultGrowBy; }

    void CopyFrom(const StringT& other) {
        other.CheckGuards();
        if (!SetString(other.GetString(), other.GetLength())) {
            RaiseFatalError("string allocation failed");
        }
        CheckGuards();
    }

    // A heap string of the default manager hands its block over; anything else (another manager,
    // no buffer, a block that lives inside its owner) is copied.
    void MoveFrom(StringT& other) {
        const StringData* data = other.GetData();
        const bool handOver = data != nullptr && data->memMgr == MemMgrT::Default() &&
                              data->ownsBuffer && data->ownsData;
        if (!handOver) {
            CopyFrom(other);
            return;
        }
        ReleaseBlock();
        text_ = other.text_;
        other.text_ = nullptr;
    }
};

// The module's one string type: wide, default heap manager, guarded.
using String = StringT<wchar_t, StringMemMgr, ChTraitsCRT<wchar_t>, 1>;

static_assert(sizeof(String) == sizeof(void*));

}  // namespace qv
