// Form posts and multipart uploads: the exact bytes on the wire, the announced length, and
// the results PostToUrl gives for accepted and refused posts.
#include <gtest/gtest.h>

#include <memory>

#include "http/HttpClient.h"
#include "http/HttpServerClient.h"
#include "platform/debug.h"
#include "platform/strings.h"
#include "support/fault_server.h"
#include "support/nginx_server.h"
#include "support/test_env.h"

using namespace Kaver;
using namespace orvo::test;

namespace {

std::wstring W(const std::string& s) { return platform::FromUtf8(s); }

// Records every request and answers with the given status.
class Receiver {
public:
    explicit Receiver(std::string status = "200 OK", bool keepBody = true)
        : m_srv([status, keepBody](FaultConnection& c) {
              c.ReadRequest(nullptr, keepBody);
              c.Send("HTTP/1.1 " + status + "\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok");
          }) {}
    std::string Url(const std::string& p) const { return m_srv.Url(p); }
    RecordedRequest Only() const {
        const auto r = m_srv.Requests();
        EXPECT_EQ(r.size(), 1u);
        return r.empty() ? RecordedRequest{} : r[0];
    }
    FaultServer m_srv;
};

std::string Boundary(const RecordedRequest& r) {
    const std::string ct = r.Header("Content-Type");
    const std::string key = "multipart/form-data; boundary=";
    EXPECT_EQ(ct.rfind(key, 0), 0u) << ct;
    return ct.substr(key.size());
}

std::string PlainPart(const std::string& b, const std::string& name, const std::string& value) {
    return "--" + b + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
}

std::string FilePart(const std::string& b, const std::string& name, const std::string& path, const std::string& mime,
                     const std::string& data) {
    return "--" + b + "\r\nContent-Disposition: form-data; name=\"" + name + "\"; filename=\"" + path +
           "\"\r\nContent-Type: " + mime + "\r\n\r\n" + data + "\r\n";
}

int Post(const std::string& base, const std::string& path, std::vector<_tsHttpParam> params) {
    return CHttpServerClient::PostToUrl(W(base), W(path), params);
}

}  // namespace

TEST(FormPost, SendsSortedEncodedPairsWithTheirLength) {
    const struct {
        std::vector<_tsHttpParam> params;
        std::string body;
    } cases[] = {
        {{{L"b", L"x y"}, {L"a", L"1"}}, "a=1&b=x+y"},
        {{{L"name", L"\u00e9&="}}, "name=%C3%A9%26%3D"},
        {{{L"z", L""}, {L"Y", L"v"}}, "Y=v&z="},
        {{{L"long", std::wstring(3000, L'k')}}, "long=" + std::string(3000, 'k')},
    };
    for (const auto& c : cases) {
        Receiver rx;
        EXPECT_EQ(Post(rx.Url("/form"), "", c.params), CHttpServerClient::kPostAccepted);
        const auto r = rx.Only();
        EXPECT_EQ(r.head.substr(0, r.head.find("\r\n")), "POST /form HTTP/1.1");
        EXPECT_EQ(r.body, c.body);
        EXPECT_EQ(r.Header("Content-Length"), std::to_string(c.body.size()));
        EXPECT_EQ(r.Header("Content-Type"), "application/x-www-form-urlencoded");
        EXPECT_EQ(r.Header("User-Agent"), "Talven Post");
        EXPECT_EQ(r.Header("Cache-Control"), "no-cache");
    }
}

TEST(Upload, MultipartBodyMatchesTheLayoutByteForByte) {
    TempDir dir;
    const std::string dump = dir / "a.dmp";
    const std::string html = dir / "page.htm";
    std::string dumpBytes = "MDMP\x93\xA7";
    dumpBytes += std::string(5000, '\0') + "tail";
    WriteFile(dump, dumpBytes);
    WriteFile(html, "<html><body>hi</body></html>");
    const std::string missing = dir / "nope.bin";

    Receiver rx;
    ASSERT_EQ(Post(rx.Url("/debug"), "/upload.php",
                   {{L"userfile", W(dump), 1}, {L"Note", L"quote\" kept"}, {L"empty", L""}, {L"page", W(html), 1},
                    {L"gone", W(missing), 1}}),
              CHttpServerClient::kPostAccepted);
    const auto r = rx.Only();
    EXPECT_EQ(r.head.substr(0, r.head.find("\r\n")), "POST /debug/upload.php HTTP/1.1");
    const std::string b = Boundary(r);
    EXPECT_EQ(b.size(), 43u);
    const std::string expected = PlainPart(b, "empty", "") +
                                 FilePart(b, "gone", missing, "application/octet-stream", "") +
                                 PlainPart(b, "Note", "quote\" kept") +
                                 FilePart(b, "page", html, "text/html", "<html><body>hi</body></html>") +
                                 FilePart(b, "userfile", dump, "application/octet-stream", dumpBytes) + "--" + b + "--\r\n";
    EXPECT_EQ(r.body, expected);
    EXPECT_EQ(r.Header("Content-Length"), std::to_string(expected.size()));
}

TEST(Upload, ContextStepsCountersAndEndsWithTheResponse) {
    TempDir dir;
    WriteFile(dir / "f.bin", std::string(2500, 'x'));
    Receiver rx;
    CHttpClient client;
    client.AddParam(L"f", W(dir / "f.bin").c_str(), CHttpClientMapAttrFile);
    client.AddParam(L"e", L"");
    client.StartUploadContext(W(rx.Url("/u")).c_str(), CHttpServerClient::kRequestFlags);
    const auto& st = client.QueryPostStat();
    EXPECT_EQ(st.TotalCount(), 2u);
    EXPECT_EQ(st.FileCount(), 1u);
    EXPECT_EQ(st.TotalByte(), 2500u);
    try {
        client.AddParam(L"late", L"x");
        ADD_FAILURE() << "AddParam accepted while posting";
    } catch (const httpclientexceptionW& e) {
        EXPECT_EQ(std::wstring(e.GetErrorMsg()),
                  L"CHttpClientT::AddParam: It is not allowed to call this method if the POST context is active.");
    }
    int steps = 0;
    std::unique_ptr<CHttpResponse> resp;
    while (!resp) {
        resp.reset(client.ContinuePost());
        ++steps;
        if (!resp && st.PostedCount() == 2 && st.CurrParamIsFile()) {
            EXPECT_LE(st.CurrParamPostedByte(), 2500u);
        }
    }
    // "e" header (empty value goes out at once), "f" header, three data steps, trailer, end.
    EXPECT_EQ(steps, 7);
    EXPECT_EQ(resp->GetStatus(), 200u);
    EXPECT_FALSE(client.IsPostContextActive());
    try {
        client.ContinuePost();
        ADD_FAILURE() << "ContinuePost after the response";
    } catch (const httpclientexceptionW& e) {
        EXPECT_EQ(e.GetErrorCode(), 104u);
    }
    const auto r = rx.Only();
    EXPECT_EQ(r.body.size(), std::stoul(r.Header("Content-Length")));
}

TEST(Upload, WithoutParametersSendsOnlyTheClosingDelimiter) {
    Receiver rx;
    CHttpClient client;
    client.StartUploadContext(W(rx.Url("/u")).c_str(), CHttpServerClient::kRequestFlags);
    std::unique_ptr<CHttpResponse> resp;
    while (!resp) resp.reset(client.ContinuePost());
    const auto r = rx.Only();
    EXPECT_EQ(r.body, "\r\n--" + Boundary(r) + "--\r\n");
}

TEST(Upload, LargeFileStreamsExactly) {
    TempDir dir;
    const uint64_t size = 24ull * 1024 * 1024 + 11;
    MakePatternFile(dir / "big.bin", size);
    Receiver rx;
    ASSERT_EQ(Post(rx.Url("/up"), "", {{L"userfile", W(dir / "big.bin"), 1}}), CHttpServerClient::kPostAccepted);
    const auto r = rx.Only();
    const std::string b = Boundary(r);
    const std::string head = "--" + b + "\r\nContent-Disposition: form-data; name=\"userfile\"; filename=\"" +
                             (dir / "big.bin") + "\"\r\nContent-Type: application/octet-stream\r\n\r\n";
    ASSERT_EQ(r.body.size(), head.size() + size + 2 + b.size() + 6);
    EXPECT_EQ(r.body.substr(0, head.size()), head);
    EXPECT_EQ(r.body.substr(head.size() + size), "\r\n--" + b + "--\r\n");
    WriteFile(dir / "got.bin", r.body.substr(head.size(), size));
    EXPECT_TRUE(SameFileContent(dir / "big.bin", dir / "got.bin"));
}

TEST(Upload, FileShrinkingDuringTheUploadFailsWith105) {
    TempDir dir;
    WriteFile(dir / "f.bin", std::string(100000, 'x'));
    Receiver rx;
    CHttpClient client;
    client.AddParam(L"f", W(dir / "f.bin").c_str(), CHttpClientMapAttrFile);
    client.StartUploadContext(W(rx.Url("/u")).c_str(), CHttpServerClient::kRequestFlags);
    WriteFile(dir / "f.bin", std::string(10, 'x'));
    try {
        for (;;) delete client.ContinuePost();
    } catch (const httpclientexceptionW& e) {
        EXPECT_EQ(e.GetErrorCode(), 105u);
    }
    EXPECT_FALSE(client.IsPostContextActive());
}

TEST(PostToUrl, RefusedPostsAreToldApartFromAcceptedOnes) {
    NginxServer web;
    web.AddDirectives("location = /accept.php { return 200 'thanks'; }");
    WriteFile(web.Root() + "/static.txt", "x");
    TempDir dir;
    WriteFile(dir / "d.dmp", "MDMP....");
    EXPECT_EQ(Post(web.Url(""), "/accept.php", {{L"userfile", W(dir / "d.dmp"), 1}}), CHttpServerClient::kPostAccepted);
    platform::DebugCapture cap;
    // nginx does not take posts to a static file.
    EXPECT_EQ(Post(web.Url(""), "/static.txt", {{L"userfile", W(dir / "d.dmp"), 1}}), CHttpServerClient::kPostRefused);
    EXPECT_TRUE(cap.Contains(L"[405 Not Allowed]"));

    Receiver busy("503 Service Unavailable");
    EXPECT_EQ(Post(busy.Url("/x"), "", {{L"a", L"1"}}), CHttpServerClient::kPostRefused);
}

TEST(PostToUrl, ServerRefusingBeforeTheBodyEndsIsARefusal) {
    // Answers at once, without reading the upload.
    FaultServer srv([](FaultConnection& c) {
        c.Send("HTTP/1.1 413 Payload Too Large\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    });
    TempDir dir;
    MakePatternFile(dir / "f.bin", 8 * 1024 * 1024);
    platform::DebugCapture cap;
    EXPECT_EQ(Post(srv.Url("/u"), "", {{L"userfile", W(dir / "f.bin"), 1}}), CHttpServerClient::kPostRefused);
    EXPECT_TRUE(cap.Contains(L"[413 Payload Too Large]"));
}

TEST(PostToUrl, EmptyListSendsNothingAndPathsJoinAsGiven) {
    Receiver rx;
    EXPECT_EQ(Post(rx.Url("/x"), "/y", {}), CHttpServerClient::kPostEmpty);
    EXPECT_EQ(rx.m_srv.Connections(), 0);
    EXPECT_EQ(Post(rx.Url("/debug"), "/upload.php", {{L"a", L"1"}}), 1);
    const auto r = rx.Only();
    EXPECT_EQ(r.head.substr(0, r.head.find("\r\n")), "POST /debug/upload.php HTTP/1.1");
}

TEST(PostToUrl, TransportFailuresReachTheCaller) {
    const uint16_t port = FreeLoopbackPort();
    try {
        Post("http://127.0.0.1:" + std::to_string(port), "/x", {{L"a", L"1"}});
        ADD_FAILURE() << "no exception";
    } catch (const httpclientexceptionW& e) {
        EXPECT_EQ(e.GetErrorCode(), 407u);
        EXPECT_EQ(e.GetSystemError(), 12029u);
    }
    // A server that drops the connection while the body is being sent.
    FaultServer drop([](FaultConnection& c) { c.Reset(); });
    TempDir dir;
    MakePatternFile(dir / "f.bin", 8 * 1024 * 1024);
    try {
        Post(drop.Url("/x"), "", {{L"f", W(dir / "f.bin"), 1}});
        ADD_FAILURE() << "no exception";
    } catch (const httpclientexceptionW& e) {
        EXPECT_TRUE(e.GetErrorCode() >= 407u && e.GetErrorCode() <= 409u) << e.GetErrorCode();
    }
}
