#include "platform/codepage.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(CodePage, ExplicitPagesRoundTrip) {
    struct Case {
        unsigned page;
        std::string bytes;
        std::wstring text;
    } cases[] = {
        {1252, "caf\xE9 \x80", L"café €"},
        {949, "\xC7\xD1\xB1\xDB", L"한글"},
        {437, "\x82\xE1", L"éß"},
        {CP_UTF8, "\xED\x95\x9C", L"한"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MultiByteToWide(c.page, c.bytes), c.text) << c.page;
        EXPECT_EQ(WideToMultiByte(c.page, c.text), c.bytes) << c.page;
    }
}

TEST(CodePage, RefusesWhatCannotBeRepresented) {
    EXPECT_FALSE(WideToMultiByte(1252, L"한").has_value());
    EXPECT_FALSE(MultiByteToWide(CP_UTF8, "\xFF").has_value());
    EXPECT_FALSE(MultiByteToWide(12345678, "a").has_value());
}

TEST(CodePage, OemNamesBecomeAnsiText) {
    // 0x81 is u-umlaut in the OEM page; under a UTF-8 locale the ANSI text is UTF-8.
    auto ansi = OemToAnsi("gr\x81n");
    EXPECT_EQ(MultiByteToWide(CP_ACP, ansi), std::wstring(L"grün"));
}
