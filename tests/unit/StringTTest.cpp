#include "sdk/StringT.h"

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "sdk/FixedStringT.h"

namespace {

using qv::String;

std::uint32_t ReadWord(const void* at) {
    std::uint32_t value;
    std::memcpy(&value, at, sizeof(value));
    return value;
}

unsigned char* BlockOf(const String& s) {
    return reinterpret_cast<unsigned char*>(const_cast<wchar_t*>(s.GetString())) - 16;
}

// Out of line, so that the compiler does not take the damage for a bug of the test.
[[gnu::noinline]] void DamageBlock(const String& s, std::size_t offset) {
    BlockOf(s)[offset] ^= 0xFF;
}

// Guard, data pointer, guard, text, terminator slot, guard; the characters between the length
// and the capacity are the owner's to use.
TEST(StringLayout, BlockCarriesGuardsDataPointerAndTerminator) {
    String s(L"E:\\");
    const unsigned char* block = BlockOf(s);
    const std::size_t capacity = s.GetCapacity();
    EXPECT_EQ(ReadWord(block), 0xABCDu);
    EXPECT_EQ(ReadWord(block + 12), 0xABCDu);
    const qv::StringData* data;
    std::memcpy(&data, block + 4, sizeof(data));
    EXPECT_EQ(data, s.GetData());
    EXPECT_EQ(s.GetString()[capacity], L'\0');
    EXPECT_EQ(ReadWord(block + 18 + 2 * capacity), 0xABCDu);

    std::wmemset(const_cast<wchar_t*>(s.GetString()) + 4, L'z', capacity - 4);
    s.CheckGuards();
}

TEST(StringGrowth, CapacityFollowsTheGrowthRuleAndNeverShrinks) {
    String s;
    const std::pair<std::size_t, std::uint64_t> steps[] = {{10, 64},     {100, 128},   {300, 300},
                                                           {2000, 2000}, {2001, 3024}, {5, 3024}};
    wchar_t fill = L'a';
    for (const auto& [length, capacity] : steps) {
        const std::wstring text(length, fill++);
        s = text.c_str();
        EXPECT_EQ(s.GetCapacity(), capacity) << "after " << length << " characters";
        EXPECT_EQ(s.GetString(), text);
    }
    String stepped;
    ASSERT_TRUE(stepped.Preallocate(1100));
    stepped = std::wstring(1500, L'x').c_str();
    EXPECT_EQ(stepped.GetCapacity(), 2124u) << "a step above 1000 characters is at least 1000";
    ASSERT_TRUE(stepped.SetString(stepped.GetString() + 1400, 5)) << "from its own text";
    EXPECT_STREQ(stepped.GetString(), L"xxxxx");
}

TEST(StringMove, HeapStringHandsItsBlockOverAndEmptyOneIsCopied) {
    String source(L"E:\\");
    const wchar_t* block = source.GetString();
    String target(std::move(source));
    EXPECT_EQ(target.GetString(), block);
    EXPECT_EQ(source.GetData(), nullptr);
    String assigned(L"old text");
    assigned = std::move(target);
    EXPECT_EQ(assigned.GetString(), block);
    EXPECT_EQ(target.GetData(), nullptr);
    String empty;
    EXPECT_EQ(String(std::move(empty)).GetCapacity(), 64u);
}

TEST(StringGuardsDeathTest, DamagedGuardEndsTheProcess) {
    String s(L"abc");
    EXPECT_DEATH((DamageBlock(s, 12), s.CheckGuards()), "guard");
    EXPECT_DEATH((DamageBlock(s, 18 + 2 * s.GetCapacity()), s = L"next"), "guard");
    EXPECT_DEATH((std::wmemset(s.GetBuffer(), L'x', s.GetCapacity() + 1), s.ReleaseBuffer()),
                 "beyond capacity");
}

TEST(FixedString, KeepsAFullPathInlineAndMovesLongerTextToTheHeap) {
    qv::FixedStringT s;
    const qv::StringData* inlineData = s.GetData();
    s = std::wstring(260, L'p').c_str();
    EXPECT_TRUE(s.UsesInlineBuffer());
    EXPECT_EQ(inlineData->ownsBuffer, 0);

    s = std::wstring(261, L'q').c_str();
    EXPECT_FALSE(s.UsesInlineBuffer());
    EXPECT_EQ(s.GetCapacity(), 520u);
    EXPECT_EQ(s.GetString(), std::wstring(261, L'q'));
    EXPECT_EQ(s.GetData(), inlineData) << "the bookkeeping stays in the object";
    EXPECT_EQ(s.GetData()->ownsBuffer, 1);
    EXPECT_EQ(s.GetData()->ownsData, 0);
    s.CheckGuards();
}

}  // namespace
