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

// ASCII goes eight bytes at a time: a multi-byte or malformed sequence at any offset of such
// a run, and a run cut short at the end, must still decode (or be refused) as byte by byte.
TEST(Utf8, SequencesAtEveryOffsetOfAnAsciiRun) {
    for (size_t offset = 0; offset <= 17; ++offset) {
        const std::string ascii(offset, 'x');
        const std::wstring wide(offset, L'x');
        EXPECT_EQ(FromUtf8(ascii + "\xEA\xB0\x80" + ascii), wide + L"\uAC00" + wide) << offset;
        EXPECT_EQ(FromUtf8Strict(ascii + "\xF0\x9F\x98\x80"), wide + L"\U0001F600") << offset;
        EXPECT_EQ(FromUtf8Strict(ascii + "\xC0\xAF" + ascii), std::nullopt) << offset;
        EXPECT_EQ(FromUtf8(ascii + "\xE2\x82"), wide + L"\uFFFD\uFFFD") << offset;
        EXPECT_FALSE(IsValidUtf8(ascii + "\xED\xA0\x80" + ascii)) << offset;
        EXPECT_FALSE(IsValidUtf8(ascii + "\x80")) << offset;
        EXPECT_TRUE(IsValidUtf8(ascii + "\xEA\xB0\x80" + ascii)) << offset;
    }
    // Appending keeps what is there, and leaves it as it was when the bytes are refused.
    std::wstring out = L"head ";
    EXPECT_TRUE(AppendFromUtf8Strict("tail \xEA\xB0\x80 and more", out));
    EXPECT_EQ(out, L"head tail \uAC00 and more");
    EXPECT_FALSE(AppendFromUtf8Strict("0123456789\xFF", out));
    EXPECT_EQ(out, L"head tail \uAC00 and more");
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
