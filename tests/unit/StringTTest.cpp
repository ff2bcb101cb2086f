#include "StringT.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using qv::String;

std::wstring Repeat(wchar_t c, size_t count) {
    return std::wstring(count, c);
}

std::uint32_t ReadWord(const void* at) {
    std::uint32_t value;
    std::memcpy(&value, at, sizeof(value));
    return value;
}

const unsigned char* BlockOf(const String& s) {
    return reinterpret_cast<const unsigned char*>(s.GetString()) - 16;
}

// Flips the guard word that follows the terminator slot, where the capacity ends.
void DamageTrailingGuard(String& s) {
    auto* text = const_cast<wchar_t*>(s.GetString());
    reinterpret_cast<unsigned char*>(text + s.GetCapacity() + 1)[0] ^= 0xFF;
}

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

    EXPECT_EQ(data->memMgr, qv::StringMemMgr::Default());
    EXPECT_EQ(data->length, 3u);
    EXPECT_EQ(data->growBy, 64u);
    EXPECT_EQ(data->ownsBuffer, 1);
    EXPECT_EQ(data->ownsData, 1);
}

TEST(StringLayout, StringWithoutBufferGivesSharedEmptyText) {
    String a;
    String b;
    EXPECT_STREQ(a.GetString(), L"");
    EXPECT_EQ(a.GetString(), b.GetString());
    EXPECT_EQ(a.GetLength(), 0u);
    EXPECT_EQ(a.GetCapacity(), 0u);
    EXPECT_EQ(a.GetData(), nullptr);
}

TEST(StringLayout, EmptyTextIntoStringWithoutBufferAllocatesDefaultStep) {
    String s;
    const wchar_t* shared = s.GetString();
    s = L"";
    EXPECT_EQ(s.GetCapacity(), 64u);
    EXPECT_EQ(s.GetLength(), 0u);
    EXPECT_STREQ(s.GetString(), L"");
    EXPECT_NE(s.GetString(), shared);
}

TEST(StringGrowth, CapacityFollowsTheGrowthRule) {
    String s;
    const size_t lengths[] = {10, 100, 300, 2000, 2001};
    const std::uint64_t capacities[] = {64, 128, 300, 2000, 3024};
    for (size_t i = 0; i < std::size(lengths); ++i) {
        const std::wstring text = Repeat(L'a' + static_cast<wchar_t>(i), lengths[i]);
        s = text.c_str();
        EXPECT_EQ(s.GetCapacity(), capacities[i]) << "after " << lengths[i] << " characters";
        EXPECT_EQ(s.GetLength(), lengths[i]);
        EXPECT_EQ(s.GetString(), text);
    }
}

TEST(StringGrowth, StepAboveThousandCharactersIsAtLeastThousand) {
    String s;
    ASSERT_TRUE(s.Preallocate(1100));
    s = Repeat(L'x', 1500).c_str();
    EXPECT_EQ(s.GetCapacity(), 2124u);
}

TEST(StringGrowth, ShorterTextNeverShrinksTheBuffer) {
    String s(Repeat(L'x', 500).c_str());
    const auto capacity = s.GetCapacity();
    s = L"ab";
    EXPECT_EQ(s.GetCapacity(), capacity);
    EXPECT_STREQ(s.GetString(), L"ab");
}

TEST(StringGrowth, SetStringFromItsOwnTextSurvivesGrowth) {
    String s(L"abcdef");
    ASSERT_TRUE(s.SetString(s.GetString() + 2, 2));
    EXPECT_STREQ(s.GetString(), L"cd");
    std::wstring longText = Repeat(L'q', 70);
    s = longText.c_str();
    ASSERT_TRUE(s.SetString(s.GetString(), 70));
    EXPECT_EQ(s.GetString(), longText);
}

TEST(StringAssignment, NullEmptiesAndKeepsCapacity) {
    String s;
    ASSERT_TRUE(s.Preallocate(128));
    s = L"text";
    s = static_cast<const wchar_t*>(nullptr);
    EXPECT_EQ(s.GetCapacity(), 128u);
    EXPECT_EQ(s.GetLength(), 0u);
    EXPECT_STREQ(s.GetString(), L"");
}

TEST(StringAssignment, OwnTextPointerChangesNothing) {
    String s(L"same");
    const wchar_t* before = s.GetString();
    s = s.GetString();
    EXPECT_EQ(s.GetString(), before);
    EXPECT_EQ(s.GetCapacity(), 64u);

    String none;
    none = none.GetString();
    EXPECT_EQ(none.GetData(), nullptr) << "the shared empty text allocates nothing";
}

TEST(StringAssignment, CopiesAreDeep) {
    String original(L"E:\\");
    String copy(original);
    copy = L"F:\\";
    EXPECT_STREQ(original.GetString(), L"E:\\");
    EXPECT_NE(original.GetString(), copy.GetString());

    String assigned;
    assigned = original;
    EXPECT_STREQ(assigned.GetString(), L"E:\\");
    EXPECT_NE(assigned.GetString(), original.GetString());
}

TEST(StringMove, HeapStringHandsItsBlockOver) {
    String source(L"E:\\");
    const wchar_t* block = source.GetString();
    String target(std::move(source));
    EXPECT_EQ(target.GetString(), block);
    EXPECT_EQ(source.GetData(), nullptr);

    String assigned(L"old text");
    assigned = std::move(target);
    EXPECT_EQ(assigned.GetString(), block);
    EXPECT_EQ(target.GetData(), nullptr);
}

TEST(StringMove, StringWithoutBufferIsCopiedAsEmpty) {
    String source;
    String target(std::move(source));
    EXPECT_EQ(target.GetCapacity(), 64u);
    EXPECT_EQ(target.GetLength(), 0u);
}

TEST(StringBuffer, ReleaseBufferTakesLengthFromFirstTerminator) {
    String s;
    wchar_t* buffer = s.GetBuffer();
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(s.GetCapacity(), 64u);
    std::wcscpy(buffer, L"user");
    s.ReleaseBuffer();
    EXPECT_EQ(s.GetLength(), 4u);
    EXPECT_STREQ(s.GetString(), L"user");
}

TEST(StringBuffer, EmptyGivesABufferOfTheDefaultStep) {
    String s;
    s.Empty();
    EXPECT_EQ(s.GetCapacity(), 64u);
    EXPECT_EQ(s.GetLength(), 0u);
}

TEST(StringCompare, CompareNoCaseFollowsTheRuntime) {
    String s(L"C:\\Windows\\system32\\");
    EXPECT_EQ(s.CompareNoCase(L"c:\\windows\\SYSTEM32\\"), 0);
    EXPECT_EQ(s.CompareNoCase(L"c:\\", 3), 0);
    EXPECT_NE(s.CompareNoCase(L"d:\\", 3), 0);
    EXPECT_LT(String().CompareNoCase(L"a"), 0);
    EXPECT_EQ(String().CompareNoCase(L""), 0);
}

TEST(StringGuards, CharactersBetweenLengthAndCapacityAreFreeToUse) {
    String s(L"abc");
    auto* text = const_cast<wchar_t*>(s.GetString());
    for (size_t i = 4; i < s.GetCapacity(); ++i) {
        text[i] = L'z';
    }
    s.CheckGuards();
    s = L"defg";
    String copy(s);
    EXPECT_STREQ(copy.GetString(), L"defg");
}

using StringGuardsDeathTest = ::testing::Test;

TEST_F(StringGuardsDeathTest, BrokenTrailingGuardEndsTheProcess) {
    EXPECT_DEATH(
        {
            String s(L"abc");
            DamageTrailingGuard(s);
            s = L"next";
        },
        "guard");
    EXPECT_DEATH(
        {
            String s(L"abc");
            DamageTrailingGuard(s);
            String copy(s);
        },
        "guard");
    EXPECT_DEATH(
        {
            String s(L"abc");
            DamageTrailingGuard(s);
        },
        "guard");
}

TEST_F(StringGuardsDeathTest, BrokenLeadingGuardsEndTheProcess) {
    EXPECT_DEATH(
        {
            String s(L"abc");
            const_cast<unsigned char*>(BlockOf(s))[0] = 0;
            s.CheckGuards();
        },
        "guard");
    EXPECT_DEATH(
        {
            String s(L"abc");
            const_cast<unsigned char*>(BlockOf(s))[12] = 0;
            s.CheckGuards();
        },
        "guard");
}

TEST_F(StringGuardsDeathTest, BufferWrittenPastCapacityEndsTheProcess) {
    EXPECT_DEATH(
        {
            String s;
            wchar_t* buffer = s.GetBuffer();
            for (size_t i = 0; i <= s.GetCapacity(); ++i) {
                buffer[i] = L'x';
            }
            s.ReleaseBuffer();
        },
        "beyond capacity");
}

}  // namespace
