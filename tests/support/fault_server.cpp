#include "support/fault_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace orvo::test {

std::string RecordedRequest::Header(const std::string& name) const {
    size_t pos = head.find("\r\n");
    while (pos != std::string::npos && pos + 2 < head.size()) {
        const size_t start = pos + 2;
        const size_t end = head.find("\r\n", start);
        if (end == std::string::npos) break;
        const std::string line = head.substr(start, end - start);
        if (line.size() > name.size() && line[name.size()] == ':' &&
            strncasecmp(line.c_str(), name.c_str(), name.size()) == 0) {
            size_t v = name.size() + 1;
            while (v < line.size() && line[v] == ' ') ++v;
            return line.substr(v);
        }
        pos = end;
    }
    return {};
}

bool FaultConnection::ReadRequest(RecordedRequest* pOut, bool bKeepBody) {
    RecordedRequest r;
    char buf[65536];
    size_t headEnd;
    while ((headEnd = m_pending.find("\r\n\r\n")) == std::string::npos) {
        const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
        if (n <= 0) return false;
        m_pending.append(buf, static_cast<size_t>(n));
    }
    r.head = m_pending.substr(0, headEnd + 4);
    m_pending.erase(0, headEnd + 4);
    const std::string cl = r.Header("Content-Length");
    uint64_t remaining = cl.empty() ? 0 : std::strtoull(cl.c_str(), nullptr, 10);
    const auto take = [&](const char* p, size_t n) {
        if (bKeepBody) r.body.append(p, n);
        r.bodyBytes += n;
        remaining -= n;
    };
    const size_t first = static_cast<size_t>(std::min<uint64_t>(remaining, m_pending.size()));
    take(m_pending.data(), first);
    m_pending.erase(0, first);
    while (remaining > 0) {
        const ssize_t n = ::recv(m_fd, buf, static_cast<size_t>(std::min<uint64_t>(sizeof buf, remaining)), 0);
        if (n <= 0) break;
        take(buf, static_cast<size_t>(n));
    }
    m_server.Record(r);
    if (pOut != nullptr) *pOut = r;
    return remaining == 0;
}

bool FaultConnection::Send(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

bool FaultConnection::SendPattern(uint64_t n) {
    std::string chunk;
    uint64_t off = 0;
    while (off < n) {
        const size_t len = static_cast<size_t>(std::min<uint64_t>(65536, n - off));
        chunk.resize(len);
        for (size_t i = 0; i < len; ++i) chunk[i] = FaultServer::PatternByte(off + i);
        if (!Send(chunk)) return false;
        off += len;
    }
    return true;
}

void FaultConnection::Close() {
    if (m_fd < 0) return;
    ::shutdown(m_fd, SHUT_WR);
    // Let the peer read what was sent before the socket goes away.
    char buf[4096];
    pollfd p{m_fd, POLLIN, 0};
    while (::poll(&p, 1, 2000) > 0 && ::recv(m_fd, buf, sizeof buf, 0) > 0) {
    }
    ::close(m_fd);
    m_fd = -1;
}

void FaultConnection::Reset() {
    if (m_fd < 0) return;
    linger l{1, 0};
    ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    ::close(m_fd);
    m_fd = -1;
}

void FaultConnection::Stall(std::chrono::milliseconds d) {
    std::unique_lock lock(m_server.m_lock);
    m_server.m_cv.wait_for(lock, d, [&] { return m_server.m_stop.load(); });
}

FaultServer::FaultServer(Handler handler) : m_handler(std::move(handler)) {
    m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(m_listen, 16) != 0 ||
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        throw std::runtime_error("fault server cannot listen");
    m_port = ntohs(a.sin_port);
    m_acceptThread = std::thread([this] { AcceptLoop(); });
}

FaultServer::~FaultServer() {
    {
        std::lock_guard lock(m_lock);
        m_stop = true;
    }
    m_cv.notify_all();
    ::shutdown(m_listen, SHUT_RDWR);
    m_acceptThread.join();
    ::close(m_listen);
    for (auto& t : m_workers) t.join();
}

std::string FaultServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + path;
}

std::vector<RecordedRequest> FaultServer::Requests() const {
    std::lock_guard lock(m_lock);
    return m_requests;
}

void FaultServer::Record(const RecordedRequest& r) {
    std::lock_guard lock(m_lock);
    m_requests.push_back(r);
}

void FaultServer::AcceptLoop() {
    while (!m_stop) {
        pollfd p{m_listen, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        const int fd = ::accept(m_listen, nullptr, nullptr);
        if (fd < 0) continue;
        ++m_connections;
        std::lock_guard lock(m_lock);
        m_workers.emplace_back([this, fd] {
            FaultConnection c(fd, *this);
            m_handler(c);
            c.Close();
        });
    }
}

}  // namespace orvo::test
