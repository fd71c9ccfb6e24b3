// The client's pure parts: error table, URL analysis, encoding, map order, GET URLs, MIME sniffing.
#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <string>

#include "http/HttpClient.h"
#include "http/MimeSniffer.h"
#include "platform/strings.h"

using namespace Kaver;

namespace {

std::wstring Message(const httpclientexceptionW& e) { return e.GetErrorMsg(); }

template <class F>
httpclientexceptionW Catch(F f) {
    try {
        f();
    } catch (const httpclientexceptionW& e) {
        return e;
    }
    ADD_FAILURE() << "no httpclientexceptionW";
    return httpclientexceptionW(L"none", 99999);
}

}  // namespace

TEST(HttpErrorTable, MessagesByCodeAndFormattedArguments) {
    const struct {
        uint32_t code;
        const wchar_t* text;
    } cases[] = {
        {0, L"Not specified"},
        {100, L"Unexpected error occurred."},
        {105, L"Couldn't read expected bytes from a file."},
        {113, L"An interger divide by zero exception has been occurred."},
        {200, L""},
        {401, L"::InternetReadFile failed."},
        {410, L"::InternetSetOption failed."},
        {602, L"::ReadFile failed."},
        {1000, L"user-defined error message"},
        {4711, L"user-defined error message"},
    };
    for (const auto& c : cases) EXPECT_EQ(GetHttpErrorMessageW(c.code), std::wstring(c.text)) << c.code;
    EXPECT_STREQ(GetHttpErrorMessageA(404), "::HttpOpenRequest failed.");
    EXPECT_EQ(FormatHttpErrorMessageW(603, L"/x/y"), L"OpenFile (::CreateFile) failed (\"/x/y\").");
    // A long argument is cut to 511 characters.
    EXPECT_EQ(FormatHttpErrorMessageW(605, std::wstring(2000, L'p').c_str()).size(), 511u);

    const auto e = Catch([] { ThrowHttpErrorW(606, 5, L"f.bin"); });
    EXPECT_EQ(Message(e), L"::WriteFile failed (\"f.bin\").");
    EXPECT_EQ(e.GetErrorCode(), 606u);
    EXPECT_EQ(e.GetSystemError(), 5u);
    EXPECT_STREQ(e.what(), "httpclientexceptionW");
    const httpclientexceptionW copy = e;
    EXPECT_EQ(Message(copy), Message(e));
    EXPECT_EQ(copy.GetSystemError(), 5u);
    EXPECT_EQ(std::wstring(errmsg_exceptionW().GetErrorMsg()), L"NULL");
    EXPECT_STREQ(errmsg_exceptionA().GetErrorMsg(), "NULL");
}

TEST(HttpUrlAnalyzer, SplitsUrlsIntoTwelveFields) {
    struct Case {
        const wchar_t* url;
        CHttpUrlComponents c;
    };
    // scheme(idx,len) host port path query fragment
    const Case cases[] = {
        {L"http://host:8080/a/b?x=1#f", {0, 4, 7, 4, 12, 4, 16, 4, 20, 4, 24, 2}},
        {L"host/path", {0, 0, 0, 4, 4, 0, 4, 5, 9, 0, 9, 0}},
        {L"https://h", {0, 5, 8, 1, 9, 0, 9, 0, 9, 0, 9, 0}},
        {L"http://h?q=1", {0, 4, 7, 1, 8, 0, 8, 0, 8, 4, 12, 0}},
        {L"http:///p", {0, 4, 7, 0, 7, 0, 7, 2, 9, 0, 9, 0}},
        {L"http://h#top?x", {0, 4, 7, 1, 8, 0, 8, 0, 8, 0, 8, 6}},
        {L"", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(CHttpUrlAnalyzer::Analyze(CP_ACP, c.url), c.c) << platform::ToUtf8(c.url);
    EXPECT_EQ(CHttpUrlAnalyzer::Analyze(CP_ACP, nullptr), CHttpUrlComponents{});
}

TEST(HttpClient, RejectsUtfCodePagesWithTheOperationsMessage) {
    const struct {
        std::function<void()> call;
        const wchar_t* message;
    } cases[] = {
        {[] { CHttpUrlAnalyzer::Analyze(CP_UTF8, L"http://h/"); },
         L"CHttpUrlAnalyzerT::Analyze: CP_UTF8 and CP_UTF7 can not be used for the CodePage parameter."},
        {[] { CHttpEncoderW::AnsiEncodeLen(CP_UTF8, L"a"); },
         L"CHttpEncoderW::AnsiEncodeLen: CP_UTF8 and CP_UTF7 can not be used for the CodePage parameter."},
        {[] { char b[4]; CHttpEncoderW::AnsiEncode(CP_UTF7, L"a", b); },
         L"CHttpEncoderW::AnsiEncode: CP_UTF8 and CP_UTF7 can not be used for the CodePage parameter."},
        {[] { CHttpToolW::Unicode2Ansi(CP_UTF8, L"a"); },
         L"CHttpToolW::Unicode2Ansi: CP_UTF8 and CP_UTF7 can not be used for the CodePage parameter."},
        {[] { int x; CHttpToolW::OpenRequest(L"/", CP_UTF8, reinterpret_cast<HINTERNET>(&x), L"GET", 0); },
         L"CHttpToolW::OpenRequest: CP_UTF8 and CP_UTF7 can not be used for the CodePage parameter."},
        {[] { int x; CHttpToolW::AddHeader(reinterpret_cast<HINTERNET>(&x), CP_UTF8, L"a", L"b"); },
         L"CHttpToolW::AddHeader: CP_UTF8 and CP_UTF7 can not be used for the CodePage parameter."},
        {[] { int x; CHttpToolW::SendRequest(CP_UTF8, reinterpret_cast<HINTERNET>(&x)); },
         L"CHttpToolW::SendRequest: CP_UTF8 and CP_UTF7 can not be used for the CodePage parameter."},
        {[] { platform::File f; CHttpToolW::GetMimeType(CP_UTF8, &f); },
         L"CHttpToolW::GetMimeType: CP_UTF8 and CP_UTF7 can not be used for the CodePage parameter."},
        {[] { CHttpToolW::OpenRequest(L"/", CP_ACP, nullptr, L"GET", 0); },
         L"CHttpToolW::OpenRequest: hConnection can not be NULL."},
        {[] { CHttpEncoderW::UrlEncodeA(nullptr, L"a", false, CP_ACP); },
         L"CHttpEncoderW::UrlEncodeA: szBuff can not be NULL."},
        {[] { CHttpClientMap m; m.Add(nullptr, L"v"); }, L"CHttpClientMapT::Add: szName can not be NULL."},
        {[] { CHttpClient c; c.MakeGetUrl(nullptr, L"http://h/"); }, L"CHttpClientT::MakeGetUrl: szBuff can not be NULL."},
    };
    for (const auto& c : cases) {
        const auto e = Catch(c.call);
        EXPECT_EQ(Message(e), c.message);
        EXPECT_EQ(e.GetErrorCode(), 0u);
    }
}

TEST(HttpEncoder, UrlEncodesOneCharacterAtATime) {
    const struct {
        const wchar_t* text;
        bool utf8;
        unsigned cp;
        const char* encoded;
    } cases[] = {
        {L"a b/\u00e9", false, 1252, "a+b%2F%E9"},
        {L"a b/\u00e9", true, CP_ACP, "a+b%2F%C3%A9"},
        {L"AZaz09-_.~", false, 1252, "AZaz09%2D%5F%2E%7E"},
        {L"\ud55c", false, 949, "%C7%D1"},
        {L"\u20ac", false, 1252, "%80"},
        {L"\u4e2d", false, 1252, "%3F"},  // not in the page: '?' as the system conversion gives
        {L"", false, 1252, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CHttpEncoderW::UrlEncode(c.text, c.utf8, c.cp), c.encoded) << c.encoded;
        EXPECT_EQ(CHttpEncoderW::UrlEncodeLen(c.text, c.utf8, c.cp), std::string(c.encoded).size());
        std::vector<wchar_t> w(CHttpEncoderW::UrlEncodeLen(c.text, c.utf8, c.cp) + 1);
        CHttpEncoderW::UrlEncodeW(c.text, w.data(), c.utf8, c.cp);
        EXPECT_EQ(platform::ToUtf8(w.data()), c.encoded);
    }
    EXPECT_EQ(CHttpEncoderW::AnsiEncodeLen(1252, L"\u00e9t\u00e9"), 3u);
    EXPECT_EQ(CHttpEncoderW::Utf8EncodeLen(L"\u00e9t\u00e9"), 5u);
    EXPECT_EQ(CHttpEncoderW::AnsiEncodeLen(1252, nullptr), 0u);
    EXPECT_EQ(Catch([] { _UrlEncodeLen(nullptr); }).GetErrorMsg(), std::wstring(L"_UrlEncodeLen: szStr can not be NULL."));
}

TEST(HttpClientMap, SortsByNameWithoutCaseAndKeepsInsertionOrderOfEqualNames) {
    CHttpClientMap m;
    m.Add(L"b", L"1");
    m.Add(L"A", L"2");
    m.Add(L"B", L"3");
    m.Add(L"_x", nullptr);  // '_' sorts before letters once A-Z fold to a-z
    m.Add(L"a", L"4");
    std::vector<std::wstring> got;
    for (const auto& e : m) got.push_back(e.szName + L"=" + (e.szValue ? *e.szValue : L"(null)"));
    EXPECT_EQ(got, (std::vector<std::wstring>{L"_x=(null)", L"A=2", L"a=4", L"b=1", L"B=3"}));
    EXPECT_EQ(m.Count(), 5u);
    m.Clear();
    EXPECT_EQ(m.Count(), 0u);
}

TEST(HttpClient, MakeGetUrlAppendsSortedEncodedParameters) {
    const struct {
        const wchar_t* url;
        const wchar_t* expected;
    } cases[] = {
        {L"http://h/p", L"http://h/p?A=1&b=x+y"},
        {L"http://h/p?x=1", L"http://h/p?x=1&A=1&b=x+y"},
        {L"http://h", L"http://h/?A=1&b=x+y"},
        {L"http://h/p#frag", L"http://h/p?A=1&b=x+y#frag"},
    };
    for (const auto& c : cases) {
        CHttpClient client;
        client.AddParam(L"b", L"x y");
        client.AddParam(L"A", L"1");
        std::vector<wchar_t> buff(client.MakeGetUrlLen(c.url) + 1);
        EXPECT_EQ(std::wstring(client.MakeGetUrl(buff.data(), c.url)), c.expected);
        EXPECT_EQ(client.MakeGetUrlLen(c.url), std::wcslen(c.expected));
    }
    CHttpClient pre;
    pre.AddParam(L"n%20", L"v%2F", CHttpClientMapAttrNameEncoded | CHttpClientMapAttrValueEncoded);
    pre.AddParam(L"z", nullptr);
    wchar_t buff[64];
    EXPECT_EQ(std::wstring(pre.MakeGetUrl(buff, L"http://h/")), L"http://h/?n%20=v%2F&z=");
    CHttpClient none;
    EXPECT_EQ(std::wstring(none.MakeGetUrl(buff, L"http://h/a b")), L"http://h/a b");
}

TEST(HttpClient, ConnectionChecksPortAndHost) {
    CHttpClient client;
    HINTERNET h = platform::inet::InternetOpen(L"t", 0, nullptr, nullptr, 0);
    ASSERT_NE(h, nullptr);
    const struct {
        const wchar_t* url;
        uint32_t code;
    } bad[] = {
        {L"http://h:65536/", 107}, {L"http://h:123456/", 107}, {L"http://h:80a/", 107}, {L"http:///p", 103},
    };
    for (const auto& c : bad) EXPECT_EQ(Catch([&] { client.OpenConnection(c.url, h); }).GetErrorCode(), c.code);
    for (const wchar_t* ok : {L"http://h:65535/", L"host/path", L"https://h/", L"http://h:/x"}) {
        HINTERNET c = client.OpenConnection(ok, h);
        EXPECT_NE(c, nullptr);
        platform::inet::InternetCloseHandle(c);
    }
    EXPECT_EQ(Message(Catch([&] { client.OpenConnection(L"http://h/", nullptr); })),
              L"CHttpClientT::OpenConnection: hInternet can not be NULL.");
    platform::inet::InternetCloseHandle(h);
}

TEST(HttpClient, BoundaryIsMadeFromARandomGuid) {
    CHttpClient a, b;
    const std::wstring ba = a.GetBoundary(), bb = b.GetBoundary();
    EXPECT_TRUE(std::regex_match(platform::ToUtf8(ba), std::regex("----MOVEL-[0-9a-f]{32}-"))) << platform::ToUtf8(ba);
    EXPECT_EQ(ba.size(), 43u);
    EXPECT_NE(ba, bb);
    EXPECT_EQ(std::wstring(a.GetUploadContentType()), L"multipart/form-data; boundary=" + ba);
}

TEST(HttpPostStat, AccessorsRefuseAnInactiveContext) {
    CHttpClient client;
    const auto& st = client.QueryPostStat();
    EXPECT_EQ(Message(Catch([&] { st.TotalCount(); })), L"CHttpPostStatT::TotalCount: The post context is not active.");
    EXPECT_EQ(Message(Catch([&] { st.CurrParamRemainByte(); })),
              L"CHttpPostStatT::CurrParamRemainByte: The post context is not active.");
    EXPECT_EQ(Catch([&] { client.ContinuePost(); }).GetErrorCode(), 104u);
}

TEST(MimeSniffer, RecognisesCommonSignatures) {
    using namespace std::literals;
    const struct {
        std::string bytes;
        const char* type;
    } cases[] = {
        {"GIF89a\x01\x00"s, "image/gif"},
        {"\xFF\xD8\xFF\xE0\x00\x10JFIF"s, "image/pjpeg"},
        {"\x89PNG\r\n\x1A\n\0\0"s, "image/x-png"},
        {"BM\x36\x00\x0C\x00\x00\x00\x00\x00\x36\x00\x00\x00"s, "image/bmp"},
        {"PK\x03\x04\x14\x00"s, "application/x-zip-compressed"},
        {"%PDF-1.4\n"s, "application/pdf"},
        {"  <!DOCTYPE html><html><body>x</body></html>"s, "text/html"},
        {"<?xml version=\"1.0\"?><a/>"s, "text/xml"},
        {"hello world\r\nsecond line\n"s, "text/plain"},
        {"MDMP\x93\xA7\0\0\x01\x02"s, "application/octet-stream"},
        {""s, "application/octet-stream"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SniffMimeType(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size()), c.type) << c.type;
}
