#include "platform/inet.h"

#include <atomic>
#include <cstdlib>
#include <mutex>

namespace platform::inet {

namespace {

void Override(const char* szName, uint32_t& nValue) {
    const char* v = std::getenv(szName);
    if (v == nullptr || *v == '\0') return;
    char* end = nullptr;
    const unsigned long long n = std::strtoull(v, &end, 10);
    if (*end == '\0' && n > 0 && n <= 0xFFFFFFFFull) nValue = static_cast<uint32_t>(n);
}

Timeouts FromEnvironment() {
    Timeouts t;
    Override("ORVO_NET_CONNECTMS", t.connectMs);
    Override("ORVO_NET_SENDMS", t.sendMs);
    Override("ORVO_NET_RECEIVEMS", t.receiveMs);
    Override("ORVO_NET_LOWSPEEDBYTES", t.lowSpeedBytes);
    Override("ORVO_NET_LOWSPEEDMS", t.lowSpeedMs);
    Override("ORVO_NET_DEADLINEBASEMS", t.deadlineBaseMs);
    Override("ORVO_NET_DEADLINEBYTESPERSEC", t.deadlineBytesPerSec);
    Override("ORVO_NET_UNKNOWNSIZEMS", t.unknownSizeMs);
    return t;
}

std::mutex g_timeoutsLock;
Timeouts g_timeouts = FromEnvironment();
std::atomic<bool> g_cancel{false};

}  // namespace

uint64_t TransferDeadlineMs(const Timeouts& t, int64_t nBytes) {
    if (nBytes < 0) return t.unknownSizeMs;
    const uint64_t rate = t.deadlineBytesPerSec == 0 ? 1 : t.deadlineBytesPerSec;
    return t.deadlineBaseMs + static_cast<uint64_t>(nBytes) / rate * 1000 + (static_cast<uint64_t>(nBytes) % rate) * 1000 / rate;
}

void CancelTransfers() {
    g_cancel.store(true);
    InterruptOpenRequests();
}
void ResetCancel() { g_cancel.store(false); }
bool TransfersCancelled() { return g_cancel.load(); }

void SetDefaultTimeouts(const Timeouts& timeouts) {
    std::lock_guard lock(g_timeoutsLock);
    g_timeouts = timeouts;
}

Timeouts DefaultTimeouts() {
    std::lock_guard lock(g_timeoutsLock);
    return g_timeouts;
}

std::string EscapeObjectName(std::string_view sz) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : sz) {
        if (c <= 0x20 || c >= 0x7F) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

}  // namespace platform::inet
