#include "platform/inet.h"

#include <mutex>

namespace platform::inet {

namespace {
std::mutex g_timeoutsLock;
Timeouts g_timeouts;
}  // namespace

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
