// A TCP relay on a free loopback port that delays every byte by a fixed time in each direction,
// as a distant server would (the kernel here offers no network emulation). Each accepted
// connection opens its own connection to the target, so the target sees one connection per
// client connection.
//
//   LatencyProxy far(web.HttpsPort(), std::chrono::milliseconds(10));   // 20 ms round trip
//   GetFileFromURL("https://127.0.0.1:" + std::to_string(far.Port()) + "/a.zip", ...);
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace orvo::test {

class LatencyProxy {
public:
    LatencyProxy(uint16_t targetPort, std::chrono::milliseconds delayEachWay);
    ~LatencyProxy();
    LatencyProxy(const LatencyProxy&) = delete;
    LatencyProxy& operator=(const LatencyProxy&) = delete;

    uint16_t Port() const { return m_port; }
    int Connections() const { return m_connections.load(); }
    // The connection that carries the next this-many bytes back from the target breaks there
    // (both ways shut), as a dropped link would; the relay is whole again afterwards.
    void BreakAfter(int64_t bytesFromTarget) { m_breakBudget = bytesFromTarget; }

private:
    void AcceptLoop();
    void Relay(int from, int to, bool fromTarget);

    uint16_t m_targetPort;
    std::chrono::milliseconds m_delay;
    int m_listen = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::atomic<int64_t> m_breakBudget{-1};
    std::thread m_acceptThread;
    std::mutex m_lock;
    std::vector<int> m_fds;
    std::vector<std::thread> m_relays;
};

}  // namespace orvo::test
