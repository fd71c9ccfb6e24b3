#include "support/latency_proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <stdexcept>
#include <string>

namespace orvo::test {

using Clock = std::chrono::steady_clock;

LatencyProxy::LatencyProxy(uint16_t targetPort, std::chrono::milliseconds delayEachWay)
    : m_targetPort(targetPort), m_delay(delayEachWay) {
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(m_listen, 64) != 0 ||
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        throw std::runtime_error("latency proxy: cannot listen");
    m_port = ntohs(a.sin_port);
    m_acceptThread = std::thread([this] { AcceptLoop(); });
}

LatencyProxy::~LatencyProxy() {
    m_stop = true;
    ::shutdown(m_listen, SHUT_RDWR);
    m_acceptThread.join();
    {
        std::lock_guard lock(m_lock);
        for (int fd : m_fds) ::shutdown(fd, SHUT_RDWR);
    }
    for (auto& t : m_relays) t.join();
    for (int fd : m_fds) ::close(fd);
    ::close(m_listen);
}

void LatencyProxy::AcceptLoop() {
    for (;;) {
        const int client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            if (m_stop) return;
            continue;
        }
        const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(m_targetPort);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (server < 0 || ::connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(client);
            if (server >= 0) ::close(server);
            continue;
        }
        const int one = 1;
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ++m_connections;
        std::lock_guard lock(m_lock);
        m_fds.push_back(client);
        m_fds.push_back(server);
        m_relays.emplace_back([this, client, server] { Relay(client, server, false); });
        m_relays.emplace_back([this, client, server] { Relay(server, client, true); });
    }
}

// Reads from one side and writes to the other what was read m_delay ago; an end of stream is
// passed on once everything before it was delivered.
void LatencyProxy::Relay(int from, int to, bool fromTarget) {
    struct Chunk {
        Clock::time_point due;
        std::string bytes;
    };
    std::deque<Chunk> queue;
    bool ended = false;
    char buf[64 * 1024];
    for (;;) {
        const auto now = Clock::now();
        while (!queue.empty() && queue.front().due <= now) {
            std::string& b = queue.front().bytes;
            int64_t budget = fromTarget ? m_breakBudget.load() : -1;
            while (budget >= 0 && !m_breakBudget.compare_exchange_weak(budget, std::max<int64_t>(budget - static_cast<int64_t>(b.size()), 0))) {
            }
            if (budget >= 0 && static_cast<int64_t>(b.size()) >= budget) {
                m_breakBudget = -1;
                b.resize(static_cast<size_t>(budget));
                ::send(to, b.data(), b.size(), MSG_NOSIGNAL);
                const linger reset{1, 0};
                ::setsockopt(to, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
                ::setsockopt(from, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
                ::shutdown(to, SHUT_RDWR);
                ::shutdown(from, SHUT_RDWR);
                return;
            }
            size_t off = 0;
            while (off < b.size()) {
                const ssize_t n = ::send(to, b.data() + off, b.size() - off, MSG_NOSIGNAL);
                if (n <= 0) {
                    ::shutdown(from, SHUT_RDWR);
                    return;
                }
                off += static_cast<size_t>(n);
            }
            queue.pop_front();
        }
        if (ended && queue.empty()) {
            ::shutdown(to, SHUT_WR);
            return;
        }
        int timeout = -1;
        if (!queue.empty())
            timeout = static_cast<int>(
                std::chrono::ceil<std::chrono::milliseconds>(queue.front().due - Clock::now()).count());
        if (timeout < 0 && !queue.empty()) timeout = 0;
        if (ended) {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::max(timeout, 0)));
            continue;
        }
        pollfd p{from, POLLIN, 0};
        if (::poll(&p, 1, timeout) < 0) continue;
        if ((p.revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
        const ssize_t n = ::recv(from, buf, sizeof buf, 0);
        if (n <= 0) {
            ended = true;
            if (n < 0) ::shutdown(to, SHUT_RDWR);
            continue;
        }
        queue.push_back({Clock::now() + m_delay, std::string(buf, static_cast<size_t>(n))});
        if (m_stop) return;
    }
}

}  // namespace orvo::test
