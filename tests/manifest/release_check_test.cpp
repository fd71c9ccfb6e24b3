#include <gtest/gtest.h>

#include "manifest/ManifestXml.h"
#include "manifest/ReleaseCheck.h"
#include "platform/strings.h"
#include "support/test_env.h"

using namespace UpDater;

TEST(ReleaseCheck, UtcTimesAreReadStrictly) {
    EXPECT_EQ(ParseUtcTime(L"1970-01-01T00:00:00Z"), 0);
    EXPECT_EQ(ParseUtcTime(L"2000-02-29T12:34:56Z"), 951827696);
    EXPECT_EQ(ParseUtcTime(L"2099-12-31T23:59:59Z"), 4102444799);
    for (const wchar_t* bad : {L"", L"2001-02-29T00:00:00Z", L"2026-13-01T00:00:00Z", L"2026-01-01T24:00:00Z",
                               L"2026-01-01 00:00:00Z", L"2026-01-01T00:00:00", L"2026-01-01T00:00:00+01:00", L"2026-1-01T00:00:00Z",
                               L" 2026-01-01T00:00:00Z"})
        EXPECT_FALSE(ParseUtcTime(bad)) << std::wstring(bad).size();
    EXPECT_EQ(ParseSequence(L"18446744073709551615"), std::nullopt);  // 20 digits
    EXPECT_EQ(ParseSequence(L"9223372036854775807"), 9223372036854775807ull);
    for (const wchar_t* bad : {L"", L"-1", L" 3", L"3 ", L"+3", L"3a"}) EXPECT_FALSE(ParseSequence(bad));
}

TEST(ReleaseCheck, OlderMalformedOrExpiredReleasesAreRefused) {
    const int64_t now = *ParseUtcTime(L"2026-06-01T00:00:00Z");
    const struct {
        const wchar_t* root;
        uint64_t applied;
        const wchar_t* refusal;  // empty: accepted
    } cases[] = {
        {L"<r><Sequence>5</Sequence></r>", 5, L""},
        {L"<r><Sequence>6</Sequence></r>", 5, L""},
        {L"<r><Sequence>4</Sequence></r>", 5, L"Sequence 4 is older than the release applied last (5)"},
        {L"<r></r>", 0, L""},
        {L"<r></r>", 1, L"Sequence 0 is older"},
        {L"<r><Sequence>x</Sequence></r>", 0, L"is not a release number"},
        {L"<r><Expires>2026-06-01T00:00:01Z</Expires></r>", 0, L""},
        {L"<r><Expires>2026-06-01T00:00:00Z</Expires></r>", 0, L"expired at 2026-06-01T00:00:00Z"},
        {L"<r><Expires>soon</Expires></r>", 0, L"is not a UTC date-time"},
    };
    for (const auto& c : cases) {
        orvo::test::TempDir dir;
        orvo::test::WriteFile(dir / "m.xml", platform::ToUtf8(c.root));
        CManifestDocument doc;
        static const ManifestLoadLines kLines{L"Test", 1, 2, 3, 4};
        ASSERT_TRUE(doc.Load(platform::FromUtf8(dir / "m.xml"), kLines));
        const std::wstring why = CheckReleaseOrder(doc.Root(), c.applied, now);
        if (*c.refusal == 0)
            EXPECT_EQ(why, L"") << c.root;
        else
            EXPECT_NE(why.find(c.refusal), std::wstring::npos) << c.root;
    }
}
