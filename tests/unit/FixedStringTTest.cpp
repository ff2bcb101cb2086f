#include "FixedStringT.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(FixedString, StartsEmptyInItsInlineBuffer) {
    qv::FixedStringT s;
    EXPECT_TRUE(s.UsesInlineBuffer());
    EXPECT_EQ(s.GetCapacity(), 260u);
    EXPECT_EQ(s.GetLength(), 0u);
    EXPECT_STREQ(s.GetString(), L"");
    const qv::StringData* data = s.GetData();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->growBy, 260u);
    EXPECT_EQ(data->ownsBuffer, 0);
    EXPECT_EQ(data->ownsData, 0);
    s.CheckGuards();
}

TEST(FixedString, HoldsAFullPathWithoutTheHeap) {
    qv::FixedStringT s;
    const std::wstring path(260, L'p');
    s = path.c_str();
    EXPECT_TRUE(s.UsesInlineBuffer());
    EXPECT_EQ(s.GetString(), path);
    EXPECT_EQ(s.GetData()->ownsBuffer, 0);
}

TEST(FixedString, GrowingMovesTheTextToTheHeapAndKeepsItsBookkeeping) {
    qv::FixedStringT s;
    s = L"C:\\Windows\\";
    const qv::StringData* inlineData = s.GetData();
    const std::wstring longer(261, L'q');
    s = longer.c_str();
    EXPECT_FALSE(s.UsesInlineBuffer());
    EXPECT_EQ(s.GetCapacity(), 520u);
    EXPECT_EQ(s.GetString(), longer);
    EXPECT_EQ(s.GetData(), inlineData);
    EXPECT_EQ(s.GetData()->ownsBuffer, 1);
    EXPECT_EQ(s.GetData()->ownsData, 0);
}

TEST(FixedString, GrowthCopiesTheInlineBlockFirst) {
    qv::FixedStringT s;
    s = L"kept";
    ASSERT_TRUE(s.Preallocate(300));
    EXPECT_FALSE(s.UsesInlineBuffer());
    EXPECT_STREQ(s.GetString(), L"kept");
    EXPECT_EQ(s.GetLength(), 4u);
    s.CheckGuards();
}

TEST(FixedString, BufferIsWrittenInPlaceBySystemCalls) {
    qv::FixedStringT s;
    wchar_t* buffer = s.GetBuffer();
    std::wcscpy(buffer, L"C:\\Windows\\system32");
    s.ReleaseBuffer();
    EXPECT_TRUE(s.UsesInlineBuffer());
    EXPECT_EQ(s.GetLength(), 19u);
}

}  // namespace
