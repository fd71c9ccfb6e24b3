// A tiny HTTP server on a free loopback port for what a real server will not do on request:
// close or reset mid-body, stall, lie about Content-Length, send garbage, or record the exact
// bytes of a request. Each connection is handed to the test's handler on its own thread.
//
//   FaultServer srv([](FaultConnection& c) { c.ReadRequest(); c.Send("HTTP/1.1 200 OK\r\n..."); c.Reset(); });
//   GetFileFromURL(srv.Url("/x"), path);
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace orvo::test {

struct RecordedRequest {
    std::string head;   // request line and headers, through the blank line
    std::string body;   // the body as received (empty when not kept)
    uint64_t bodyBytes = 0;
    // Value of a header (case-insensitive name), empty when absent.
    std::string Header(const std::string& name) const;
};

class FaultServer;

class FaultConnection {
public:
    FaultConnection(int fd, FaultServer& server) : m_fd(fd), m_server(server) {}
    // Reads one request: the head, then a body of its Content-Length (kept when bKeepBody).
    // Recorded in the server's list; false when the peer closed first.
    bool ReadRequest(RecordedRequest* pOut = nullptr, bool bKeepBody = true);
    bool Send(std::string_view bytes);
    // Sends n bytes of a repeating pattern.
    bool SendPattern(uint64_t n);
    // Closes with a reset instead of an orderly close.
    void Reset();
    // Orderly close (also done after the handler returns).
    void Close();
    // Waits until the server stops or the time passes.
    void Stall(std::chrono::milliseconds d);

private:
    int m_fd;
    FaultServer& m_server;
    std::string m_pending;
};

class FaultServer {
public:
    using Handler = std::function<void(FaultConnection&)>;
    explicit FaultServer(Handler handler);
    ~FaultServer();
    FaultServer(const FaultServer&) = delete;
    FaultServer& operator=(const FaultServer&) = delete;

    uint16_t Port() const { return m_port; }
    std::string Url(const std::string& path) const;
    std::vector<RecordedRequest> Requests() const;
    int Connections() const { return m_connections.load(); }

    // The byte the pattern has at an offset.
    static char PatternByte(uint64_t offset) { return static_cast<char>('A' + (offset * 31 + offset / 4099) % 23); }

private:
    friend class FaultConnection;
    void AcceptLoop();
    void Record(const RecordedRequest& r);

    Handler m_handler;
    int m_listen = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::thread m_acceptThread;
    mutable std::mutex m_lock;
    std::condition_variable m_cv;
    std::vector<std::thread> m_workers;
    std::vector<RecordedRequest> m_requests;
};

}  // namespace orvo::test
