// Against the fault server, a POSIX fixture: Linux only until it runs on Windows sockets too.
#ifndef _WIN32
// Contract of the internet transport, the same on every backend: handle kinds, call order,
// streamed bodies and the error numbers callers rely on.
#include <gtest/gtest.h>

#include <string>

#include "platform/inet.h"
#include "support/fault_server.h"

using namespace platform::inet;
using orvo::test::FaultConnection;
using orvo::test::FaultServer;
using orvo::test::RecordedRequest;

namespace {

struct Handles {
    explicit Handles(uint16_t port, const char* verb = "GET", const char* object = "/x") {
        net = InternetOpen(L"contract", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        con = InternetConnect(net, L"127.0.0.1", port);
        req = HttpOpenRequest(con, verb, object, INTERNET_FLAG_PRAGMA_NOCACHE);
    }
    ~Handles() {
        for (HINTERNET h : {req, con, net})
            if (h != nullptr) InternetCloseHandle(h);
    }
    HINTERNET net, con, req;
};

}  // namespace

TEST(Inet, RefusesWrongHandlesAndCallOrder) {
    FaultServer srv([](FaultConnection& c) {
        c.ReadRequest();
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc");
    });
    Handles h(srv.Port());
    ASSERT_TRUE(h.net && h.con && h.req);
    uint8_t buf[8];
    uint32_t n = 0;
    EXPECT_FALSE(InternetReadFile(h.req, buf, sizeof buf, &n));  // not sent yet
    EXPECT_EQ(LastError(), ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    EXPECT_FALSE(HttpSendRequest(h.con));  // a connection is not a request
    EXPECT_EQ(LastError(), ERROR_INVALID_HANDLE_);
    EXPECT_EQ(HttpOpenRequest(h.net, "GET", "/", 0), nullptr);
    for (const wchar_t* host : {L"user@127.0.0.1", L"a b", L"h/x", L""}) {
        EXPECT_EQ(InternetConnect(h.net, host, 80), nullptr);
        EXPECT_EQ(LastError(), ERROR_INTERNET_INVALID_URL);
    }
    EXPECT_FALSE(HttpSendRequestEx(h.req, 10));  // GET carries no body
    EXPECT_FALSE(HttpAddRequestHeaders(h.req, "no colon here\r\n"));
    EXPECT_EQ(LastError(), ERROR_INVALID_PARAMETER_);
    ASSERT_TRUE(HttpSendRequest(h.req));
    EXPECT_FALSE(HttpSendRequest(h.req));  // only once
    uint32_t status = 0;
    ASSERT_TRUE(HttpQueryStatusCode(h.req, &status));
    EXPECT_EQ(status, 200u);
    ASSERT_TRUE(InternetReadFile(h.req, buf, sizeof buf, &n));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), n), "abc");
    ASSERT_TRUE(InternetReadFile(h.req, buf, sizeof buf, &n));
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(srv.Requests().at(0).Header("Pragma"), "no-cache");
}

TEST(Inet, StreamsABodyOfTheAnnouncedLengthOnly) {
    FaultServer srv([](FaultConnection& c) {
        c.ReadRequest();
        c.Send("HTTP/1.1 201 Created\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nok\r\n0\r\n\r\n");
    });
    Handles h(srv.Port(), "POST", "/up");
    ASSERT_TRUE(HttpAddRequestHeaders(h.req, "X-One: 1\r\nX-Two: 2\r\n"));
    ASSERT_TRUE(HttpSendRequestEx(h.req, 10));
    uint32_t w = 0;
    ASSERT_TRUE(InternetWriteFile(h.req, "01234", 5, &w));
    EXPECT_EQ(w, 5u);
    EXPECT_FALSE(HttpEndRequest(h.req));  // five bytes still owed
    EXPECT_FALSE(InternetWriteFile(h.req, "567890", 6, &w));  // one too many
    ASSERT_TRUE(InternetWriteFile(h.req, "56789", 5, &w));
    ASSERT_TRUE(HttpEndRequest(h.req));
    uint64_t len = 42;
    EXPECT_FALSE(HttpQueryContentLength(h.req, &len));
    EXPECT_EQ(LastError(), ERROR_HTTP_HEADER_NOT_FOUND);
    EXPECT_EQ(len, 42u);
    std::string text;
    ASSERT_TRUE(HttpQueryStatusText(h.req, &text));
    EXPECT_EQ(text, "Created");
    const RecordedRequest r = srv.Requests().at(0);
    EXPECT_EQ(r.body, "0123456789");
    EXPECT_EQ(r.Header("Content-Length"), "10");
    EXPECT_EQ(r.Header("X-Two"), "2");
    EXPECT_EQ(r.Header("Expect"), "");
}

TEST(Inet, TimeoutsEndStalledExchanges) {
    FaultServer srv([](FaultConnection& c) {
        c.ReadRequest();
        c.Stall(std::chrono::seconds(5));
    });
    Handles h(srv.Port());
    ASSERT_TRUE(InternetSetOption(h.req, INTERNET_OPTION_RECEIVE_TIMEOUT, 300u));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(HttpSendRequest(h.req));
    EXPECT_EQ(LastError(), ERROR_INTERNET_TIMEOUT);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}
#endif
