// GetFileFromURL against a real nginx and against a server that misbehaves on purpose.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include <chrono>
#include <thread>

#include "http/HttpClient.h"
#include "http/HttpFileFetch.h"
#include "http/HttpServerClient.h"
#include "platform/debug.h"
#include "platform/failure_cause.h"
#include "platform/inet.h"
#include "platform/strings.h"
#include "support/fault_server.h"
#include "support/nginx_server.h"
#include "support/test_env.h"

using namespace Kaver;
using namespace orvo::test;

namespace {

std::wstring W(const std::string& s) { return platform::FromUtf8(s); }

int Get(const std::string& url, const std::string& path) { return CHttpServerClient::GetFileFromURL(W(url), W(path)); }

// Short time-outs so that stalled servers fail within the test's time.
class ShortTimeouts {
public:
    explicit ShortTimeouts(uint32_t ms) : m_old(platform::inet::DefaultTimeouts()) {
        platform::inet::SetDefaultTimeouts({ms, ms, ms});
    }
    ~ShortTimeouts() { platform::inet::SetDefaultTimeouts(m_old); }

private:
    platform::inet::Timeouts m_old;
};

// Nothing but the target folder may hold files after a failed download.
size_t EntriesIn(const std::string& dir) { return platform::FindFiles(W(dir + "/*")).size(); }

class DownloadTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_web = new NginxServer(); }
    static void TearDownTestSuite() {
        delete s_web;
        s_web = nullptr;
    }
    static NginxServer* s_web;
    TempDir m_out;
};
NginxServer* DownloadTest::s_web = nullptr;

}  // namespace

TEST_F(DownloadTest, FilesOfEverySizeArriveByteForByte) {
    for (uint64_t size : {0ull, 1ull, 4094ull, 4095ull, 4096ull, 65537ull, 3ull * 1024 * 1024 + 5}) {
        const std::string name = "/f" + std::to_string(size) + ".bin";
        MakePatternFile(s_web->Root() + name, size);
        const std::string out = m_out / ("d" + name);
        ASSERT_EQ(Get(s_web->Url(name), out), 1) << size;
        EXPECT_TRUE(SameFileContent(s_web->Root() + name, out)) << size;
    }
}

// A local write that fails is told in words, for the package download and the plain one alike.
// The process's file size limit makes the writes fail (EFBIG, which has no Win32 twin by name).
TEST_F(DownloadTest, AFailedWriteNamesItsCauseInWords) {
    MakePatternFile(s_web->Root() + "/big.bin", 65536);
    const std::string url = s_web->Url("/big.bin");
    struct rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto previous = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    platform::ClearFailureCause();
    const int plain = Get(url, m_out / "plain.bin");
    const std::wstring plainCause = platform::TakeFailureCause();
    const int resuming = CHttpFileFetch::GetFileResuming(W(url), W(m_out / "pkg.bin"));
    const std::wstring resumingCause = platform::TakeFailureCause();
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::signal(SIGXFSZ, previous);
    EXPECT_NE(plain, 1);
    EXPECT_NE(resuming, 1);
    for (const std::wstring& cause : {plainCause, resumingCause}) {
        EXPECT_NE(cause.find(L"could not be written to"), std::wstring::npos) << platform::ToUtf8(cause);
        EXPECT_NE(cause.find(L": the file is too large."), std::wstring::npos) << platform::ToUtf8(cause);
        EXPECT_EQ(cause.find(L"error"), std::wstring::npos) << platform::ToUtf8(cause);
    }
}

TEST_F(DownloadTest, LargeFileStreamsThroughAndReplacesAnOlderCopy) {
    const uint64_t size = 256ull * 1024 * 1024 + 7;
    MakePatternFile(s_web->Root() + "/big.bin", size);
    const std::string out = m_out / "big.bin";
    WriteFile(out, "old copy");
    ASSERT_EQ(Get(s_web->Url("/big.bin"), out), 1);
    EXPECT_TRUE(SameFileContent(s_web->Root() + "/big.bin", out));
    EXPECT_EQ(EntriesIn(m_out.path()), 1u);
    ::unlink((s_web->Root() + "/big.bin").c_str());
}

TEST_F(DownloadTest, CreatesTheFolderChainAndRefusesABareFileName) {
    WriteFile(s_web->Root() + "/a.txt", "abc");
    const std::string out = m_out / "a/b/c/f.txt";
    ASSERT_EQ(Get(s_web->Url("/a.txt"), out), 1);
    EXPECT_EQ(ReadFile(out), "abc");
    platform::DebugCapture cap;
    EXPECT_EQ(Get(s_web->Url("/a.txt"), "bare.txt"), -1);
    EXPECT_TRUE(cap.Contains(L"[FAILED CHttpServerClient::GetFileFromURL] Create Folder Failed"));
    // A file standing where a folder of the chain should be.
    WriteFile(m_out / "plain", "x");
    EXPECT_EQ(Get(s_web->Url("/a.txt"), m_out / "plain/sub/f.txt"), -1);
    // The target is a folder: the local file cannot be opened.
    MakeDirs(m_out / "isdir");
    EXPECT_EQ(Get(s_web->Url("/a.txt"), m_out / "isdir"), 0);
    EXPECT_TRUE(cap.Contains(L"[FAILED CHttpServerClient::GetFileFromURL] File Open"));
    // Windows-style separators work as well.
    ASSERT_EQ(Get(s_web->Url("/a.txt"), m_out.path() + "\\w1\\w2\\f.txt"), 1);
    EXPECT_EQ(ReadFile(m_out / "w1/w2/f.txt"), "abc");
}

TEST_F(DownloadTest, HttpErrorStatusIsAFailureThatLeavesNoFile) {
    s_web->AddDirectives("location = /boom { return 500 'server broke'; }");
    const struct {
        std::string path;
        const wchar_t* status;
    } cases[] = {{"/missing.bin", L"[404 Not Found]"}, {"/boom", L"[500 Internal Server Error]"}};
    for (const auto& c : cases) {
        platform::DebugCapture cap;
        const std::string out = m_out / "err.bin";
        EXPECT_EQ(Get(s_web->Url(c.path), out), -1);
        EXPECT_FALSE(Exists(out));
        EXPECT_TRUE(cap.Contains(c.status)) << c.path;
    }
    // An older copy survives a refused download.
    const std::string kept = m_out / "kept.bin";
    WriteFile(kept, "previous");
    EXPECT_EQ(Get(s_web->Url("/missing.bin"), kept), -1);
    EXPECT_EQ(ReadFile(kept), "previous");
    EXPECT_EQ(EntriesIn(m_out.path()), 1u);
}

TEST_F(DownloadTest, FollowsRedirectChainsButNotLoopsOrOtherSchemes) {
    WriteFile(s_web->Root() + "/final.txt", "end of chain");
    s_web->AddDirectives("location = /r1 { return 301 /r2; }\n    location = /r2 { return 302 /r3; }\n"
                         "    location = /r3 { return 307 /final.txt; }\n    location = /loop { return 302 /loop; }\n"
                         "    location = /ftp { return 302 ftp://127.0.0.1/x; }");
    const std::string out = m_out / "r.txt";
    ASSERT_EQ(Get(s_web->Url("/r1"), out), 1);
    EXPECT_EQ(ReadFile(out), "end of chain");
    for (const char* p : {"/loop", "/ftp"}) {
        platform::DebugCapture cap;
        const std::string failed = m_out / "loop.txt";
        EXPECT_EQ(Get(s_web->Url(p), failed), -1) << p;
        EXPECT_FALSE(Exists(failed));
        EXPECT_TRUE(cap.Contains(L"::HttpSendRequest failed.")) << p;
        EXPECT_TRUE(cap.Contains(L"[136]Line")) << p;
    }
}

TEST_F(DownloadTest, OnlyHttpAndHttpsAddressesAreFetched) {
    WriteFile(s_web->Root() + "/plain.txt", "served");
    const std::string hostPort = s_web->Url("/plain.txt").substr(std::string("http://").size());
    for (const char* scheme : {"ftp", "FILE", "gopher", "httpx"}) {
        platform::DebugCapture cap;
        const std::string out = m_out / "s.txt";
        EXPECT_EQ(Get(std::string(scheme) + "://" + hostPort, out), -1) << scheme;
        EXPECT_FALSE(Exists(out)) << scheme;
        EXPECT_TRUE(cap.Contains(L"scheme [" + W(scheme) + L"] refused")) << scheme;
    }
    const std::string out = m_out / "ok.txt";
    EXPECT_EQ(Get("HTTP://" + hostPort, out), 1);
    EXPECT_EQ(ReadFile(out), "served");
}

TEST_F(DownloadTest, UnreachableServerFailsBeforeAnyFileIsOpened) {
    const uint16_t port = FreeLoopbackPort();
    platform::DebugCapture cap;
    const std::string out = m_out / "u.bin";
    EXPECT_EQ(Get("http://127.0.0.1:" + std::to_string(port) + "/x", out), -1);
    EXPECT_FALSE(Exists(out));
    EXPECT_TRUE(cap.Contains(L"System Error [12029]"));
}

TEST(DownloadHttps, VerifiesTheCertificateChainAndName) {
    NginxServer web(NginxServer::Options{.https = true});
    WriteFile(web.Root() + "/s.txt", "secret");
    TempDir out;
    {
        // Not trusted: the throw-away CA is unknown to the system store.
        ScopedEnv noCa("CURL_CA_BUNDLE", std::nullopt), noCert("SSL_CERT_FILE", std::nullopt);
        platform::DebugCapture cap;
        EXPECT_EQ(Get(web.HttpsUrl("/s.txt"), out / "a.txt"), -1);
        EXPECT_TRUE(cap.Contains(L"System Error [12045]"));
    }
    ScopedEnv ca("CURL_CA_BUNDLE", web.CaFile());
    ASSERT_EQ(Get(web.HttpsUrl("/s.txt"), out / "b.txt"), 1);
    EXPECT_EQ(ReadFile(out / "b.txt"), "secret");
    // Redirects stay on https: never down to plain http.
    web.AddRedirect("/up", web.HttpsUrl("/s.txt"));
    web.AddRedirect("/down", web.Url("/s.txt"));
    EXPECT_EQ(Get(web.HttpsUrl("/up"), out / "up.txt"), 1);
    EXPECT_EQ(Get(web.HttpsUrl("/down"), out / "down.txt"), -1);
    EXPECT_FALSE(Exists(out / "down.txt"));

    NginxServer other(NginxServer::Options{.https = true, .certNames = "DNS:other.example"});
    WriteFile(other.Root() + "/s.txt", "secret");
    ScopedEnv otherCa("CURL_CA_BUNDLE", other.CaFile());
    platform::DebugCapture cap;
    EXPECT_EQ(Get(other.HttpsUrl("/s.txt"), out / "c.txt"), -1);
    EXPECT_TRUE(cap.Contains(L"System Error [12038]"));
}

TEST(DownloadFaults, BrokenTransfersFailAndLeaveNoFile) {
    ShortTimeouts timeouts(1500);
    const auto head = [](const std::string& extra) { return "HTTP/1.1 200 OK\r\n" + extra + "Connection: close\r\n\r\n"; };
    const struct {
        const char* name;
        std::function<void(FaultConnection&)> serve;
        int expected;
        const wchar_t* line;
    } cases[] = {
        {"closed mid-body",
         [&](FaultConnection& c) { c.ReadRequest(); c.Send(head("Content-Length: 100000\r\n")); c.SendPattern(30000); },
         0, L"[190]Line"},
        {"reset mid-body",
         [&](FaultConnection& c) { c.ReadRequest(); c.Send(head("Content-Length: 100000\r\n")); c.SendPattern(30000); c.Stall(std::chrono::milliseconds(300)); c.Reset(); },
         0, L"[190]Line"},
        {"stalled body",
         [&](FaultConnection& c) { c.ReadRequest(); c.Send(head("Content-Length: 100\r\n")); c.SendPattern(10); c.Stall(std::chrono::seconds(10)); },
         0, L"System Error [12002]"},
        {"stalled before the answer",
         [&](FaultConnection& c) { c.ReadRequest(); c.Stall(std::chrono::seconds(10)); },
         -1, L"System Error [12002]"},
        {"broken chunking",
         [&](FaultConnection& c) { c.ReadRequest(); c.Send(head("Transfer-Encoding: chunked\r\n") + "5\r\nhello\r\nzz\r\n"); },
         0, L"[190]Line"},
        {"chunked cut short",
         [&](FaultConnection& c) { c.ReadRequest(); c.Send(head("Transfer-Encoding: chunked\r\n") + "5\r\nhello\r\n"); },
         0, L"[190]Line"},
        {"garbage status line",
         [&](FaultConnection& c) { c.ReadRequest(); c.Send("SOMETHING ELSE\r\n\r\nbody"); },
         -1, L"System Error [12152]"},
        {"nothing at all", [&](FaultConnection& c) { c.ReadRequest(); }, -1, L"[136]Line"},
    };
    for (const auto& c : cases) {
        FaultServer srv(c.serve);
        TempDir out;
        platform::DebugCapture cap;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(Get(srv.Url("/f.bin"), out / "f.bin"), c.expected) << c.name;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8)) << c.name;
        EXPECT_EQ(EntriesIn(out.path()), 0u) << c.name;
        EXPECT_TRUE(cap.Contains(c.line)) << c.name;
    }
}

TEST(DownloadFaults, UnusualButCompleteAnswersSucceed) {
    const struct {
        const char* name;
        std::string reply;
        std::string body;
    } cases[] = {
        {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n", "hello world"},
        {"no length, closed at the end", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nuntil close", "until close"},
        {"more than announced", "HTTP/1.1 200 OK\r\nContent-Length: 4\r\nConnection: close\r\n\r\nfourextra", "four"},
        {"empty body", "HTTP/1.1 204 No Content\r\n\r\n", ""},
    };
    for (const auto& c : cases) {
        FaultServer srv([&](FaultConnection& conn) {
            conn.ReadRequest();
            conn.Send(c.reply);
        });
        TempDir out;
        ASSERT_EQ(Get(srv.Url("/x"), out / "x.bin"), 1) << c.name;
        EXPECT_EQ(ReadFile(out / "x.bin"), c.body) << c.name;
    }
}

TEST(DownloadFaults, RequestCarriesAgentAndNoCacheHeaders) {
    FaultServer srv([](FaultConnection& c) {
        c.ReadRequest();
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    });
    TempDir out;
    ASSERT_EQ(Get(srv.Url("/dir/file name.bin?x=1"), out / "x"), 1);
    const auto reqs = srv.Requests();
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_EQ(reqs[0].head.substr(0, reqs[0].head.find("\r\n")), "GET /dir/file%20name.bin?x=1 HTTP/1.1");
    EXPECT_EQ(reqs[0].Header("User-Agent"), "Talven Url File Download");
    EXPECT_EQ(reqs[0].Header("Cache-Control"), "no-cache");
    EXPECT_EQ(reqs[0].Header("Pragma"), "no-cache");
    EXPECT_EQ(reqs[0].Header("Accept"), "*/*");
}

TEST(DownloadFaults, ObjectNameComesFromPathQueryOrSlash) {
    FaultServer srv([](FaultConnection& c) {
        c.ReadRequest();
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    });
    const std::string base = "http://127.0.0.1:" + std::to_string(srv.Port());
    const struct {
        std::string url;
        const char* requestLine;
    } cases[] = {
        {base, "GET / HTTP/1.1"},
        {base + "?q=1", "GET /?q=1 HTTP/1.1"},
        {base + "/a/b.zip?v=2&w=%41", "GET /a/b.zip?v=2&w=%41 HTTP/1.1"},
        {base + "/\u00e9t\u00e9.zip", "GET /%C3%A9t%C3%A9.zip HTTP/1.1"},
    };
    TempDir out;
    for (const auto& c : cases) ASSERT_EQ(Get(c.url, out / "x"), 1) << c.url;
    const auto reqs = srv.Requests();
    ASSERT_EQ(reqs.size(), std::size(cases));
    for (size_t i = 0; i < reqs.size(); ++i)
        EXPECT_EQ(reqs[i].head.substr(0, reqs[i].head.find("\r\n")), cases[i].requestLine);
}

TEST(HttpResponse, ContentLengthAbsentLeavesTheValue) {
    FaultServer srv([](FaultConnection& c) {
        c.ReadRequest();
        c.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n");
    });
    CHttpClient client;
    std::unique_ptr<CHttpResponse> r(client.SendGetRequest(W(srv.Url("/")).c_str(), CHttpServerClient::kRequestFlags));
    uint32_t n = 77;
    EXPECT_FALSE(r->GetContentLength(n));
    EXPECT_EQ(n, 77u);
    EXPECT_EQ(r->GetStatus(), 200u);
    uint8_t buf[16];
    uint32_t got = 0;
    r->ReadContent(buf, sizeof buf, got);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), got), "abc");
    r->ReadContent(buf, sizeof buf, got);
    EXPECT_EQ(got, 0u);
}

TEST(DownloadProxy, TakesTheProxyFromTheEnvironment) {
    FaultServer proxy([](FaultConnection& c) {
        c.ReadRequest();
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\nproxied");
    });
    ScopedEnv p("http_proxy", proxy.Url("")), np("no_proxy", std::nullopt), NP("NO_PROXY", std::nullopt);
    TempDir out;
    ASSERT_EQ(Get("http://updates.example.invalid/pkg/a.zip", out / "a.zip"), 1);
    EXPECT_EQ(ReadFile(out / "a.zip"), "proxied");
    const auto reqs = proxy.Requests();
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_EQ(reqs[0].head.substr(0, reqs[0].head.find("\r\n")), "GET http://updates.example.invalid/pkg/a.zip HTTP/1.1");
}

TEST_F(DownloadTest, ParallelDownloadsDoNotDisturbEachOther) {
    std::vector<std::string> names;
    for (int i = 0; i < 4; ++i) {
        names.push_back("/p" + std::to_string(i) + ".bin");
        MakePatternFile(s_web->Root() + names.back(), 2 * 1024 * 1024 + 1000 * i);
    }
    std::vector<int> results(names.size(), 99);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < names.size(); ++i)
        threads.emplace_back([&, i] { results[i] = Get(s_web->Url(names[i]), m_out / ("par" + names[i])); });
    for (auto& t : threads) t.join();
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(results[i], 1);
        EXPECT_TRUE(SameFileContent(s_web->Root() + names[i], m_out / ("par" + names[i])));
    }
}
