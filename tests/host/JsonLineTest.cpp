#include <gtest/gtest.h>

#include "JsonLine.h"

namespace {

using host::JsonLine;

TEST(JsonLine, EscapesBackslashesQuotesAndControlCharacters) {
    EXPECT_EQ(JsonLine::Quote(L"E:\\"), R"("E:\\")");
    EXPECT_EQ(JsonLine::Quote(L"\\\\server\\share\\"), R"("\\\\server\\share\\")");
    EXPECT_EQ(JsonLine::Quote(L"say \"hi\""), R"("say \"hi\"")");
    EXPECT_EQ(JsonLine::Quote(L"a\tb\nc\rd"), R"("a\tb\nc\rd")");
    EXPECT_EQ(JsonLine::Quote(std::wstring(L"\x01\x1f\x7f", 3)), R"("\u0001\u001f\u007f")");
    EXPECT_EQ(JsonLine::Quote(std::wstring(1, L'\0')), R"("\u0000")");
    EXPECT_EQ(JsonLine::Quote(L""), R"("")");
}

TEST(JsonLine, WritesNonAsciiAsEscapesSoTheLineIsPlainAscii) {
    EXPECT_EQ(JsonLine::Quote(L"caf\u00e9 \u65e5"), R"("caf\u00e9 \u65e5")");
    // A character outside the basic plane is a surrogate pair; an unpaired surrogate, which a
    // Windows file name may hold, is escaped as it is rather than lost.
    EXPECT_EQ(JsonLine::Quote(L"\U0001F600"), R"("\ud83d\ude00")");
    EXPECT_EQ(JsonLine::Quote(std::wstring(1, static_cast<wchar_t>(0xD800))), R"("\ud800")");
}

TEST(JsonLine, KeepsFieldsInOrderWithFullRangeNumbers) {
    const std::string line = JsonLine()
                                 .Add("event", L"mounted")
                                 .Add("path", L"E:\\")
                                 .Add("fullSize", 18446744073709551615ull)
                                 .Add("sessionId", 0u)
                                 .Text();
    EXPECT_EQ(line,
              R"({"event":"mounted","path":"E:\\","fullSize":18446744073709551615,"sessionId":0})");
    EXPECT_EQ(JsonLine().Text(), "{}");
}

}  // namespace
