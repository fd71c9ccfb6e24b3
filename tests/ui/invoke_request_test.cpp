#include "ui/InvokeRequest.h"

#include <gtest/gtest.h>

using OrvoUi::BuildInvokeRequest;
using OrvoUi::ParseInvokeRequest;

TEST(InvokeRequest, ProgressCallsHaveTheirKnownText) {
    EXPECT_EQ(BuildInvokeRequest(L"SetInstallProgressValue", {L"2", L"4"}),
              L"<invoke name='SetInstallProgressValue'><arguments><string>2</string><string>4</string></arguments></invoke>");
    EXPECT_EQ(BuildInvokeRequest(L"SetStatesLabelText", {L"1/3 설치 중"}),
              L"<invoke name='SetStatesLabelText'><arguments><string>1/3 설치 중</string></arguments></invoke>");
}

TEST(InvokeRequest, LabelsWithMarkupCharactersComeBackUnchanged) {
    const std::vector<std::wstring> labels = {
        L"a<b&c'd\"e>f",
        L"</string></arguments></invoke><invoke name='SetInstallLabelText'><arguments><string>forged",
        L"'); alert(1); ('",
        L"&amp; stays &amp;",
        L"",
        L"가나다 \U0001F600",
    };
    for (const auto& label : labels) {
        const std::wstring request = BuildInvokeRequest(L"SetInstallLabelText", {label});
        const auto parsed = ParseInvokeRequest(request);
        ASSERT_TRUE(parsed) << request.size();
        EXPECT_EQ(parsed->strName, L"SetInstallLabelText");
        ASSERT_EQ(parsed->args.size(), 1u);  // never a second argument or call
        EXPECT_EQ(parsed->args[0], label);
    }
}

TEST(InvokeRequest, RefusesWhatIsNotExactlyOneCall) {
    const std::vector<std::wstring> bad = {
        L"",
        L"<invoke name='F'><arguments><string>x</string></arguments></invoke><invoke name='G'><arguments></arguments></invoke>",
        L"<invoke name='F'><arguments><string>a<b</string></arguments></invoke>",  // a bare '<' in a label
        L"<invoke name='F'><arguments><string>&bogus;</string></arguments></invoke>",
        L"<invoke name='F'><arguments><string>&#0;</string></arguments></invoke>",
        L"<invoke name='F'><arguments><string>&#xD800;</string></arguments></invoke>",
        L"<invoke name='F'><arguments><string>unterminated</arguments></invoke>",
        L"<invoke name='alert(1)'><arguments></arguments></invoke>",  // not a function name
        L"<invoke name=''><arguments></arguments></invoke>",
        L"<invoke name='F'><arguments><number>1</number></arguments></invoke>",
    };
    for (const auto& r : bad) EXPECT_FALSE(ParseInvokeRequest(r)) << r.size();
}

TEST(InvokeRequest, DecodesCharacterReferencesAndDoubleQuotes) {
    const auto parsed = ParseInvokeRequest(L"<invoke name=\"F\"><arguments><string>&#65;&#x AC00;</string></arguments></invoke>");
    EXPECT_FALSE(parsed);  // a space inside a reference is malformed
    const auto ok = ParseInvokeRequest(L"<invoke name=\"F\"><arguments><string>&#65;&#xAC00;&quot;</string><string></string></arguments></invoke>");
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->args, (std::vector<std::wstring>{L"A가\"", L""}));
}
