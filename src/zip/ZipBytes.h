// Little-endian field access for the archive's records.
#pragma once

#include <cstdint>

namespace zipbytes {

inline uint16_t Get16(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

inline uint32_t Get32(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) | (static_cast<uint32_t>(b[2]) << 16) |
           (static_cast<uint32_t>(b[3]) << 24);
}

inline uint64_t Get64(const char* p) { return Get32(p) | (static_cast<uint64_t>(Get32(p + 4)) << 32); }

}  // namespace zipbytes
