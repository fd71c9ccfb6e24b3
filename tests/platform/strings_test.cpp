#include "platform/strings.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(FormatW, TakesWideStringsForPercentS) {
    std::wstring path = L"C:\\한글";
    EXPECT_EQ(FormatW(L"%s\\%s", path, L"x.dll"), L"C:\\한글\\x.dll");
    EXPECT_EQ(FormatW(L"[Error %d line] %c %ls %%s", 203, L'가', L"w"), L"[Error 203 line] 가 w %s");
    EXPECT_EQ(FormatW(L"%-5s|%5.2s|", L"ab", L"xyz"), L"ab   |   xy|");
    std::wstring longText(5000, L'z');
    EXPECT_EQ(FormatW(L"<%s>", longText).size(), 5002u);
}

TEST(Utf8, RoundTripsAndReplacesMalformedBytes) {
    const std::wstring text = L"abc 가나다 \U0001F600";
    EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
    EXPECT_EQ(FromUtf8("a\xC0\xAF" "b"), L"a\uFFFD\uFFFDb");  // overlong '/' is refused
    EXPECT_EQ(FromUtf8("\xE2\x82"), L"\uFFFD\uFFFD");          // truncated sequence
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));                // encoded surrogate
    EXPECT_TRUE(IsValidUtf8("plain \xEA\xB0\x80"));
}

TEST(StringHelpers, CaseTrimAndReplace) {
    EXPECT_TRUE(EqualsNoCase(L"NULL", L"null"));
    EXPECT_FALSE(EqualsNoCase(L"NULL", L"nul"));
    EXPECT_EQ(TrimLeft(L"..\\ .\\bin\\app", L". \\"), L"bin\\app");
    EXPECT_EQ(TrimRight(L"\"a b\"\"", L"\""), L"\"a b");
    EXPECT_EQ(TrimLeft(L"\"\"", L"\""), L"");
    std::wstring s = L"_INSTALL\\a;_INSTALL\\b";
    EXPECT_EQ(ReplaceAll(s, L"_INSTALL", L"/opt/_INSTALL"), 2);
    EXPECT_EQ(s, L"/opt/_INSTALL\\a;/opt/_INSTALL\\b");
}
