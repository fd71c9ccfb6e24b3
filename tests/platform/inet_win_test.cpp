// WinINet's own behaviour under the transport: time-outs that hold on every handle and a cancel
// that interrupts a blocked read. The servers are sockets of this process that answer too little.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "platform/inet.h"

using namespace platform::inet;
using Clock = std::chrono::steady_clock;

namespace {

// Accepts connections on 127.0.0.1; each is given `reply` and then kept open, silent (or, with
// trickle, fed one byte every 100 ms), until the server ends.
class SilentServer {
public:
    explicit SilentServer(std::string reply = {}, bool trickle = false) : m_reply(std::move(reply)), m_trickle(trickle) {
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 2), &data);
        m_listen = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int len = sizeof addr;
        if (::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(m_listen, 8) != 0 ||
            ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            throw std::runtime_error("cannot listen on loopback");
        m_port = ntohs(addr.sin_port);
        m_thread = std::thread([this] {
            for (;;) {
                SOCKET s = ::accept(m_listen, nullptr, nullptr);
                if (s == INVALID_SOCKET) return;
                if (!m_reply.empty()) ::send(s, m_reply.data(), static_cast<int>(m_reply.size()), 0);
                m_open.push_back(s);
                while (m_trickle && !m_stop && ::send(s, "x", 1, 0) == 1) ::Sleep(100);
            }
        });
    }
    ~SilentServer() {
        m_stop = true;
        ::closesocket(m_listen);
        m_thread.join();
        for (SOCKET s : m_open) ::closesocket(s);
    }
    uint16_t Port() const { return m_port; }

private:
    std::string m_reply;
    bool m_trickle;
    SOCKET m_listen = INVALID_SOCKET;
    uint16_t m_port = 0;
    std::vector<SOCKET> m_open;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

struct Handles {
    explicit Handles(uint16_t port) {
        net = InternetOpen(L"contract", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        con = InternetConnect(net, L"127.0.0.1", port);
        req = HttpOpenRequest(con, "GET", "/x", INTERNET_FLAG_PRAGMA_NOCACHE);
    }
    ~Handles() {
        for (HINTERNET h : {req, con, net})
            if (h != nullptr) InternetCloseHandle(h);
    }
    HINTERNET net, con, req;
};

struct DefaultTimeoutsScope {
    explicit DefaultTimeoutsScope(const Timeouts& t) : saved(DefaultTimeouts()) { SetDefaultTimeouts(t); }
    ~DefaultTimeoutsScope() { SetDefaultTimeouts(saved); }
    Timeouts saved;
};

// Runs f on a thread of its own; fails the test instead of hanging when it outlasts the bound.
template <class F>
auto Bounded(F f, std::chrono::seconds bound) {
    auto result = std::async(std::launch::async, std::move(f));
    if (result.wait_for(bound) != std::future_status::ready) {
        ADD_FAILURE() << "still blocked after " << bound.count() << " s";
        std::abort();  // the blocked call would keep the test program alive
    }
    return result.get();
}

}  // namespace

TEST(WinInet, ServersThatNeverAnswerEndWithinTheTimeouts) {
    DefaultTimeoutsScope scope({2000, 2000, 2000});
    // Silent after the connection; and silent after the first body bytes.
    SilentServer noAnswer;
    SilentServer stalledBody("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\nfirst bytes");
    for (SilentServer* server : {&noAnswer, &stalledBody}) {
        Handles h(server->Port());
        ASSERT_NE(h.req, nullptr);
        const auto start = Clock::now();
        // The error number is the reading thread's.
        const uint32_t err = Bounded(
            [&]() -> uint32_t {
                if (!HttpSendRequest(h.req)) return LastError();
                char buf[4096];
                uint32_t n = 0;
                while (InternetReadFile(h.req, buf, sizeof buf, &n)) {
                    if (n == 0) return 0;  // a complete body: wrong
                }
                return LastError();
            },
            std::chrono::seconds(60));
        EXPECT_TRUE(err == ERROR_INTERNET_TIMEOUT || err == ERROR_INTERNET_CONNECTION_ABORTED ||
                    err == ERROR_INTERNET_CONNECTION_RESET)
            << err;
        EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(1500)) << "ended before the time-out: " << err;
    }
}

TEST(WinInet, CancelFromAnotherThreadStopsATransfer) {
    // A body that would take hours, and long time-outs: only the cancel can end the reading.
    DefaultTimeoutsScope scope({60000, 60000, 60000});
    SilentServer stalledBody("HTTP/1.1 200 OK\r\nContent-Length: 100000000\r\n\r\nfirst bytes", true);
    Handles h(stalledBody.Port());
    ASSERT_TRUE(HttpSendRequest(h.req)) << LastError();
    std::atomic<bool> reading{false};
    auto canceller = std::thread([&] {
        while (!reading) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        CancelTransfers();
    });
    const uint32_t err = Bounded(
        [&] {
            char buf[4096];
            uint32_t n = 0;
            reading = true;
            while (InternetReadFile(h.req, buf, sizeof buf, &n) && n > 0) {
            }
            return LastError();
        },
        std::chrono::seconds(5));
    canceller.join();
    EXPECT_EQ(err, ERROR_INTERNET_OPERATION_CANCELLED);
    // The owner's calls keep failing the same way; its close still succeeds, once.
    uint32_t status = 0;
    EXPECT_FALSE(HttpQueryStatusCode(h.req, &status));
    EXPECT_EQ(LastError(), ERROR_INTERNET_OPERATION_CANCELLED);
    EXPECT_TRUE(InternetCloseHandle(h.req));
    h.req = nullptr;

    // Until the cancel is reset no request opens; afterwards requests work again.
    {
        SilentServer refused("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
        Handles blocked(refused.Port());
        EXPECT_EQ(blocked.req, nullptr);
        EXPECT_EQ(LastError(), ERROR_INTERNET_OPERATION_CANCELLED);
    }
    ResetCancel();
    SilentServer answering("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    Handles later(answering.Port());
    ASSERT_TRUE(HttpSendRequest(later.req)) << LastError();
    char buf[8];
    uint32_t n = 0;
    ASSERT_TRUE(InternetReadFile(later.req, buf, sizeof buf, &n)) << LastError();
    EXPECT_EQ(std::string(buf, n), "ok");
}
#endif
