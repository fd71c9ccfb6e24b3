// The transport on a network that is not loopback: a server 20 ms away over TLS (through the
// latency relay), connections kept between requests, downloads that break and resume, manifests
// asked for only when changed, servers that trickle, cancellation and proxies.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <optional>
#include <set>
#include <thread>

#include "http/HttpFileFetch.h"
#include "http/HttpServerClient.h"
#include "platform/debug.h"
#include "platform/fs.h"
#include "platform/inet.h"
#include "platform/strings.h"
#include "support/fault_server.h"
#include "support/latency_proxy.h"
#include "support/nginx_server.h"
#include "support/test_env.h"

using namespace Kaver;
using namespace orvo::test;
using Clock = std::chrono::steady_clock;

namespace {

std::wstring W(const std::string& s) { return platform::FromUtf8(s); }

class TimeoutScope {
public:
    explicit TimeoutScope(const platform::inet::Timeouts& t) : m_old(platform::inet::DefaultTimeouts()) {
        platform::inet::SetDefaultTimeouts(t);
    }
    ~TimeoutScope() { platform::inet::SetDefaultTimeouts(m_old); }

private:
    platform::inet::Timeouts m_old;
};

// nginx over TLS, 10 ms away each way.
class FarServerTest : public ::testing::Test {
protected:
    FarServerTest()
        : web(NginxServer::Options{.https = true, .accessLog = true}),
          far(web.HttpsPort(), std::chrono::milliseconds(10)),
          ca("CURL_CA_BUNDLE", web.CaFile()) {}
    std::string Url(const std::string& path) const { return "https://127.0.0.1:" + std::to_string(far.Port()) + path; }
    std::vector<AccessLogLine> Log() const { return ParseAccessLog(web.AccessLog()); }

    NginxServer web;
    LatencyProxy far;
    ScopedEnv ca;
    TempDir out;
};

}  // namespace

TEST_F(FarServerTest, RequestsOfARunShareOneConnection) {
    for (int i = 0; i < 20; ++i) WriteFile(web.Root() + "/f" + std::to_string(i), std::string(1000 + i, 'x'));
    for (int i = 0; i < 20; ++i) {
        const std::string name = "/f" + std::to_string(i);
        ASSERT_EQ(CHttpServerClient::GetFileFromURL(W(Url(name)), W(out / name)), 1);
        EXPECT_EQ(ReadFile(out / name), std::string(1000 + i, 'x'));
    }
    // A failed request (404) and a broken one do not spoil the connection for the next.
    EXPECT_EQ(CHttpServerClient::GetFileFromURL(W(Url("/missing")), W(out / "missing")), -1);
    ASSERT_EQ(CHttpServerClient::GetFileFromURL(W(Url("/f0")), W(out / "again")), 1);
    std::set<std::string> connections;
    for (const auto& l : Log()) connections.insert(l.connection);
    EXPECT_EQ(connections.size(), 1u) << web.AccessLog();
    EXPECT_EQ(far.Connections(), 1);
}

TEST_F(FarServerTest, ABrokenDownloadResumesWithTheRestOnly) {
    const uint64_t size = 3 * 1024 * 1024 + 17;
    MakePatternFile(web.Root() + "/pkg.zip", size);
    const std::wstring target = W(out / "pkg.zip");

    struct Case {
        const char* what;
        std::function<void()> betweenAttempts;
        bool expectRange;  // the second attempt got only the rest
    };
    const Case cases[] = {
        {"same file", [] {}, true},
        {"file changed meanwhile", [&] { MakePatternFile(web.Root() + "/pkg.zip", size + 5); }, false},
        {"server ignores ranges", [&] { web.AddDirectives("max_ranges 0;"); }, false},
    };
    for (const auto& c : cases) {
        MakePatternFile(web.Root() + "/pkg.zip", size);
        WriteFile(web.Root() + "/../access.log", "");
        far.BreakAfter(static_cast<int64_t>(size * 6 / 10));
        EXPECT_EQ(CHttpFileFetch::GetFileResuming(W(Url("/pkg.zip")), target), 0) << c.what;
        EXPECT_FALSE(Exists(out / "pkg.zip")) << c.what;
        ASSERT_TRUE(Exists(out / "pkg.zip.part")) << c.what;
        ASSERT_TRUE(Exists(out / "pkg.zip.part.meta")) << c.what;
        const uint64_t kept = platform::FileSize(W(out / "pkg.zip.part")).value_or(0);
        EXPECT_GT(kept, size / 2) << c.what;

        c.betweenAttempts();
        ASSERT_EQ(CHttpFileFetch::GetFileResuming(W(Url("/pkg.zip")), target), 1) << c.what;
        EXPECT_TRUE(SameFileContent(web.Root() + "/pkg.zip", out / "pkg.zip")) << c.what;
        EXPECT_FALSE(Exists(out / "pkg.zip.part")) << c.what;
        EXPECT_FALSE(Exists(out / "pkg.zip.part.meta")) << c.what;

        const auto log = Log();
        ASSERT_FALSE(log.empty()) << c.what;
        const AccessLogLine& last = log.back();
        const uint64_t whole = platform::FileSize(W(web.Root() + "/pkg.zip")).value_or(0);
        if (c.expectRange) {
            EXPECT_EQ(last.status, "206") << c.what;
            EXPECT_EQ(last.range, "\"bytes=" + std::to_string(kept) + "-\"") << c.what;
            EXPECT_EQ(last.bytes, whole - kept) << c.what;
        } else {
            EXPECT_EQ(last.status, "200") << c.what;
            EXPECT_EQ(last.bytes, whole) << c.what;
        }
        ::unlink((out / "pkg.zip").c_str());
    }
}

TEST_F(FarServerTest, APartLeftByAnotherAddressOrALinkIsNotContinued) {
    MakePatternFile(web.Root() + "/a.zip", 200000);
    const std::wstring target = W(out / "a.zip");
    // A part with a validator recorded for another address: started over.
    WriteFile(out / "a.zip.part", std::string(1000, 'z'));
    ASSERT_TRUE(ValidatorFile::Store(W(out / "a.zip.part.meta"), W(Url("/other.zip")), {"\"abc\"", "", 200000}));
    ASSERT_EQ(CHttpFileFetch::GetFileResuming(W(Url("/a.zip")), target), 1);
    EXPECT_TRUE(SameFileContent(web.Root() + "/a.zip", out / "a.zip"));

    // A part that is a link to a file elsewhere: the file elsewhere is never written.
    WriteFile(out / "victim", "keep me");
    ASSERT_EQ(::symlink((out / "victim").c_str(), (out / "a.zip.part").c_str()), 0);
    ASSERT_TRUE(ValidatorFile::Store(W(out / "a.zip.part.meta"), W(Url("/a.zip")), {"\"abc\"", "", 200000}));
    ASSERT_EQ(CHttpFileFetch::GetFileResuming(W(Url("/a.zip")), target), 1);
    EXPECT_EQ(ReadFile(out / "victim"), "keep me");
    EXPECT_TRUE(SameFileContent(web.Root() + "/a.zip", out / "a.zip"));
}

TEST_F(FarServerTest, AnUnchangedDocumentIsNotTransferredAgain) {
    WriteFile(web.Root() + "/app.xml", "<UpdateInfo/>");
    CHttpValidator first;
    ASSERT_EQ(CHttpFileFetch::GetFileIfChanged(W(Url("/app.xml")), W(out / "a.xml"), {}, &first), 1);
    ASSERT_FALSE(first.Empty());
    WriteFile(out / "a.xml", "untouched");
    EXPECT_EQ(CHttpFileFetch::GetFileIfChanged(W(Url("/app.xml")), W(out / "a.xml"), first, nullptr), CHttpFileFetch::kNotModified);
    EXPECT_EQ(ReadFile(out / "a.xml"), "untouched");
    const auto log = Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1].status, "304");
    EXPECT_EQ(log[1].bytes, 0u);

    // Changed on the server: the new body and its new validator.
    WriteFile(web.Root() + "/app.xml", "<UpdateInfo><X/></UpdateInfo>");
    CHttpValidator second;
    ASSERT_EQ(CHttpFileFetch::GetFileIfChanged(W(Url("/app.xml")), W(out / "a.xml"), first, &second), 1);
    EXPECT_EQ(ReadFile(out / "a.xml"), "<UpdateInfo><X/></UpdateInfo>");
    EXPECT_NE(second.strETag, first.strETag);
}

// Dates are only as fine as a second: a document changed again within the second its answer
// was dated keeps its Last-Modified, so such a date must not decide that nothing changed.
TEST(Validators, ADateNoOlderThanTheAnswerIsNotKept) {
    NginxServer web(NginxServer::Options{.accessLog = true});
    web.AddDirectives("etag off;");  // the date is all the server offers
    const std::string doc = web.Root() + "/app.xml";
    struct Case {
        const char* what;
        int modifiedIn;  // seconds from now; a second ahead stays in the answer's second
        bool kept;
    };
    for (const Case& c : {Case{"an hour before the answer", -3600, true}, Case{"in the answer's second", 1, false}}) {
        const timespec stamp{time(nullptr) + c.modifiedIn, 0};
        const timespec times[2] = {stamp, stamp};
        auto publish = [&](const std::string& text) {
            WriteFile(doc, text);
            ASSERT_EQ(::utimensat(AT_FDCWD, doc.c_str(), times, 0), 0);
        };
        TempDir out;
        publish("<v1/>");
        CHttpValidator first;
        ASSERT_EQ(CHttpFileFetch::GetFileIfChanged(W(web.Url("/app.xml")), W(out / "a.xml"), {}, &first), 1) << c.what;
        EXPECT_EQ(first.strLastModified.empty(), !c.kept) << c.what;
        if (c.kept) {  // an old date still spares the transfer
            EXPECT_EQ(CHttpFileFetch::GetFileIfChanged(W(web.Url("/app.xml")), W(out / "a.xml"), first, nullptr),
                      CHttpFileFetch::kNotModified);
            continue;
        }
        publish("<v2/>");  // changed within the same second: same size, same date
        EXPECT_EQ(CHttpFileFetch::GetFileIfChanged(W(web.Url("/app.xml")), W(out / "a.xml"), first, nullptr), 1) << c.what;
        EXPECT_EQ(ReadFile(out / "a.xml"), "<v2/>") << c.what;
    }
}

TEST(Deadlines, ATricklingServerFailsWithinItsBounds) {
    struct Case {
        const char* what;
        std::chrono::milliseconds every;  // one byte this often
        platform::inet::Timeouts bounds;
    };
    platform::inet::Timeouts lowSpeed;
    lowSpeed.lowSpeedMs = 1500;  // under 1 KiB/s for 1.5 s fails
    platform::inet::Timeouts overall;
    overall.lowSpeedBytes = 1;  // the trickle passes the speed check
    overall.deadlineBaseMs = 1000;
    overall.deadlineBytesPerSec = 1000000;  // 100 kB announced: 1.1 s in all
    const Case cases[] = {
        {"low speed", std::chrono::milliseconds(290), lowSpeed},
        {"overall bound", std::chrono::milliseconds(50), overall},
    };
    for (const auto& c : cases) {
        FaultServer trickle([&](FaultConnection& conn) {
            conn.ReadRequest();
            conn.Send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n");
            for (int i = 0; i < 400; ++i) {
                if (!conn.Send("x")) return;
                conn.Stall(c.every);
            }
        });
        TimeoutScope scope(c.bounds);
        TempDir out;
        const auto start = Clock::now();
        EXPECT_EQ(CHttpServerClient::GetFileFromURL(W(trickle.Url("/slow.zip")), W(out / "slow.zip")), 0) << c.what;
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        EXPECT_LT(took.count(), 20000) << c.what;
        EXPECT_FALSE(Exists(out / "slow.zip")) << c.what;
        std::printf("[ measured ] %s: failed after %lld ms\n", c.what, static_cast<long long>(took.count()));
    }
}

TEST(Cancel, InterruptsAStalledTransfer) {
    FaultServer stall([](FaultConnection& conn) {
        conn.ReadRequest();
        conn.Send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\nabc");
        conn.Stall(std::chrono::seconds(20));
    });
    TempDir out;
    int result = 99;
    Clock::time_point ended;
    std::thread t([&] {
        result = CHttpServerClient::GetFileFromURL(W(stall.Url("/p.zip")), W(out / "p.zip"));
        ended = Clock::now();
    });
    while (stall.Requests().empty()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto cancelled = Clock::now();
    platform::inet::CancelTransfers();
    t.join();
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(ended - cancelled);
    EXPECT_EQ(result, 0);
    EXPECT_LT(took.count(), 5000);
    std::printf("[ measured ] transfer ended %lld ms after the cancel\n", static_cast<long long>(took.count()));
    // Nothing starts while cancelled.
    EXPECT_EQ(CHttpServerClient::GetFileFromURL(W(stall.Url("/q.zip")), W(out / "q.zip")), -1);
    platform::inet::ResetCancel();
    EXPECT_EQ(stall.Requests().size(), 1u);
}

TEST(Proxies, ChosenAsTheEnvironmentSaysButNeverForLoopback) {
    FaultServer proxy([](FaultConnection& c) {
        c.ReadRequest();
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\nproxied");
    });
    NginxServer web;
    WriteFile(web.Root() + "/direct.txt", "direct!");
    struct Case {
        const char* what;
        std::string url;
        std::optional<std::string> noProxy;
        int result;
        std::string body;  // "" when it must fail
    };
    const Case cases[] = {
        {"loopback address", web.Url("/direct.txt"), std::nullopt, 1, "direct!"},
        {"localhost", "http://localhost:" + std::to_string(web.Port()) + "/direct.txt", std::nullopt, 1, "direct!"},
        {"outside", "http://updates.example.invalid/a.zip", std::nullopt, 1, "proxied"},
        {"outside, no_proxy domain", "http://updates.example.invalid/a.zip", ".example.invalid", -1, ""},
        {"outside, no_proxy other domain", "http://updates.example.invalid/a.zip", "example.com,10.0.0.0/8", 1, "proxied"},
        {"outside, no_proxy *", "http://updates.example.invalid/a.zip", "*", -1, ""},
        {"address in a no_proxy network", "http://192.0.2.1:9/a.zip", "192.0.2.0/24", -1, ""},
    };
    ScopedEnv p("http_proxy", proxy.Url("")), NP("NO_PROXY", std::nullopt);
    TimeoutScope quick({1000, 1000, 1000});
    for (const auto& c : cases) {
        ScopedEnv np("no_proxy", c.noProxy);
        TempDir out;
        const size_t before = proxy.Requests().size();
        EXPECT_EQ(CHttpServerClient::GetFileFromURL(W(c.url), W(out / "f")), c.result) << c.what;
        if (c.result == 1) {
            EXPECT_EQ(ReadFile(out / "f"), c.body) << c.what;
        }
        EXPECT_EQ(proxy.Requests().size() - before, c.body == "proxied" ? 1u : 0u) << c.what;
    }
}

TEST(Proxies, AProxyAskingForCredentialsIsNamed) {
    FaultServer proxy([](FaultConnection& c) {
        c.ReadRequest();
        c.Send("HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=\"corp\"\r\n"
               "Content-Length: 6\r\n\r\ndenied");
    });
    ScopedEnv hp("http_proxy", proxy.Url("")), sp("https_proxy", proxy.Url("")), np("no_proxy", std::nullopt),
        NP("NO_PROXY", std::nullopt);
    for (const std::string url : {"http://updates.example.invalid/a.zip", "https://updates.example.invalid/a.zip"}) {
        platform::DebugCapture capture;
        TempDir out;
        EXPECT_EQ(CHttpServerClient::GetFileFromURL(W(url), W(out / "a.zip")), -1) << url;
        std::wstring lines;
        for (const auto& l : capture.Lines()) lines += l;
        EXPECT_NE(lines.find(L"Proxy [http://127.0.0.1:" + std::to_wstring(proxy.Port()) + L"] asks for credentials (407)"),
                  std::wstring::npos)
            << url << "\n" << platform::ToUtf8(lines);
        EXPECT_FALSE(Exists(out / "a.zip"));
    }
}

TEST(Resume, PartialAnswersThatDoNotFitAreNeverTakenAsTheFile) {
    struct Case {
        const char* what;
        bool withPart;       // a part of 1000 bytes and its validator are left from before
        std::string answer;  // the server's whole answer
        int result;
    };
    const std::string body(600, 'b');
    const Case cases[] = {
        {"a part nobody asked for", false,
         "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-599/5000\r\nContent-Length: 600\r\n\r\n" + body, -1},
        {"the wrong range", true,
         "HTTP/1.1 206 Partial Content\r\nETag: \"v1\"\r\nContent-Range: bytes 900-1499/5000\r\nContent-Length: 600\r\n\r\n" + body, 0},
        {"another whole length", true,
         "HTTP/1.1 206 Partial Content\r\nETag: \"v1\"\r\nContent-Range: bytes 1000-1599/1600\r\nContent-Length: 600\r\n\r\n" + body, 0},
    };
    for (const auto& c : cases) {
        FaultServer srv([&](FaultConnection& conn) {
            conn.ReadRequest();
            conn.Send(c.answer);
        });
        TempDir out;
        const std::wstring target = W(out / "p.zip"), url = W(srv.Url("/p.zip"));
        if (c.withPart) {
            WriteFile(out / "p.zip.part", std::string(1000, 'a'));
            ASSERT_TRUE(ValidatorFile::Store(W(out / "p.zip.part.meta"), url, {"\"v1\"", "", 5000}));
        }
        EXPECT_EQ(CHttpFileFetch::GetFileResuming(url, target), c.result) << c.what;
        EXPECT_FALSE(Exists(out / "p.zip")) << c.what;
        if (c.withPart) {
            EXPECT_FALSE(Exists(out / "p.zip.part")) << c.what;  // not continued again
            const auto reqs = srv.Requests();
            ASSERT_EQ(reqs.size(), 1u);
            EXPECT_EQ(reqs[0].Header("Range"), "bytes=1000-") << c.what;
            EXPECT_EQ(reqs[0].Header("If-Range"), "\"v1\"") << c.what;
        }
    }
}

TEST(Resume, ASmallDownloadRecordsItsValidatorWhenItBreaks) {
    FaultServer srv([](FaultConnection& conn) {
        RecordedRequest r;
        conn.ReadRequest(&r);
        if (r.Header("Range").empty()) {
            conn.Send("HTTP/1.1 200 OK\r\nETag: \"v7\"\r\nContent-Length: 5000\r\n\r\n" + std::string(3000, 'a'));
            conn.Reset();
        } else {
            conn.Send("HTTP/1.1 206 Partial Content\r\nETag: \"v7\"\r\nContent-Range: bytes 3000-4999/5000\r\n"
                      "Content-Length: 2000\r\n\r\n" + std::string(2000, 'b'));
        }
    });
    TempDir out;
    const std::wstring target = W(out / "s.zip"), url = W(srv.Url("/s.zip"));
    EXPECT_EQ(CHttpFileFetch::GetFileResuming(url, target), 0);
    EXPECT_TRUE(Exists(out / "s.zip.part.meta"));
    ASSERT_EQ(CHttpFileFetch::GetFileResuming(url, target), 1);
    EXPECT_EQ(ReadFile(out / "s.zip"), std::string(3000, 'a') + std::string(2000, 'b'));
    EXPECT_EQ(srv.Requests().back().Header("Range"), "bytes=3000-");
}
