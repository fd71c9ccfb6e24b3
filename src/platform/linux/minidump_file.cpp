#include "platform/linux/minidump_file.h"

#include <cstring>

namespace platform::dumping {

namespace {
constexpr uint32_t kSignature = 0x504D444D;  // "MDMP"
constexpr uint32_t kFormatVersion = 0xA793;
constexpr uint32_t kMaxStreams = 10;
constexpr uint32_t kDirectoryRva = 32;
constexpr uint64_t kPage = 4096;
}  // namespace

MinidumpFile::MinidumpFile(int fd, char* buffer, size_t bufferSize)
    : m_fd(fd), m_buffer(buffer), m_bufferSize(bufferSize), m_pos(kDirectoryRva + kMaxStreams * 12) {}

uint32_t MinidumpFile::Append(const void* data, size_t n) {
    const uint32_t at = static_cast<uint32_t>(m_pos);
    Put(data, n, m_pos);
    m_pos += n;
    return at;
}

uint32_t MinidumpFile::AppendMemory(const MemorySource& source, uint64_t addr, size_t n) {
    const uint32_t at = static_cast<uint32_t>(m_pos);
    while (n > 0) {
        const size_t chunk = n < m_bufferSize ? n : m_bufferSize;
        size_t done = source.Read(addr, m_buffer, chunk);
        if (done == 0) {
            // Unreadable: zeros up to the next page, where the memory may be readable again.
            const uint64_t toPage = kPage - addr % kPage;
            done = chunk < toPage ? chunk : static_cast<size_t>(toPage);
            std::memset(m_buffer, 0, done);
        }
        BlankExcluded(addr, m_buffer, done);
        if (!Put(m_buffer, done, m_pos)) return at;
        m_pos += done;
        addr += done;
        n -= done;
    }
    return at;
}

void MinidumpFile::BlankExcluded(uint64_t addr, char* bytes, size_t n) const {
    const uint64_t from = addr > m_excluded.start ? addr : m_excluded.start;
    const uint64_t to = addr + n < m_excluded.end ? addr + n : m_excluded.end;
    if (from < to) std::memset(bytes + (from - addr), 0, static_cast<size_t>(to - from));
}

uint32_t MinidumpFile::AppendString(const char* utf8, size_t n) {
    Align4();
    uint16_t units[512];
    uint32_t count = 0;
    for (size_t i = 0; i < n && count + 2 < 512;) {
        uint32_t c = static_cast<uint8_t>(utf8[i]);
        size_t extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        if (extra > 0) c &= 0x3F >> extra;
        ++i;
        for (; extra > 0 && i < n; --extra, ++i) c = (c << 6) | (static_cast<uint8_t>(utf8[i]) & 0x3F);
        if (c >= 0x10000) {
            c -= 0x10000;
            units[count++] = static_cast<uint16_t>(0xD800 + (c >> 10));
            units[count++] = static_cast<uint16_t>(0xDC00 + (c & 0x3FF));
        } else {
            units[count++] = static_cast<uint16_t>(c);
        }
    }
    const uint32_t bytes = count * 2;
    const uint32_t at = Append(&bytes, 4);
    units[count] = 0;
    Append(units, bytes + 2);
    return at;
}

void MinidumpFile::Align4() {
    static const char pad[4] = {};
    if (m_pos % 4 != 0) Append(pad, 4 - m_pos % 4);
}

void MinidumpFile::AddStream(uint32_t type, Location loc) {
    if (m_streams == kMaxStreams) return;
    const uint32_t entry[3] = {type, loc.size, loc.rva};
    Put(entry, sizeof entry, kDirectoryRva + m_streams * 12);
    ++m_streams;
}

Location MinidumpFile::Stream(uint32_t type, const void* data, size_t n) {
    Align4();
    Location loc{static_cast<uint32_t>(n), Append(data, n)};
    AddStream(type, loc);
    return loc;
}

void MinidumpFile::WriteHeader(uint32_t timeStamp) {
    const uint32_t header[8] = {kSignature, kFormatVersion, m_streams, kDirectoryRva, 0, timeStamp, 0, 0};
    Put(header, sizeof header, 0);
}

bool MinidumpFile::Put(const void* data, size_t n, uint64_t off) {
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        const long w = SysPwrite(m_fd, p, n, off);
        if (w <= 0) {
            m_ok = false;
            return false;
        }
        p += w;
        off += static_cast<uint64_t>(w);
        n -= static_cast<size_t>(w);
    }
    return true;
}

void Put16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }
void Put32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
void Put64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, 8); }

void FillContext(uint8_t* ctx, const uint64_t (&regs)[16], uint64_t rip, uint64_t eflags, uint16_t cs, uint16_t fs,
                 uint16_t gs, uint16_t ss, const void* fxsave) {
    std::memset(ctx, 0, kContextSize);
    Put32(ctx + 0x30, 0x0010000F);  // 64-bit x86: control, integer, segments, floating point
    Put16(ctx + 0x38, cs);
    Put16(ctx + 0x3E, fs);
    Put16(ctx + 0x40, gs);
    Put16(ctx + 0x42, ss);
    Put32(ctx + 0x44, static_cast<uint32_t>(eflags));
    for (int i = 0; i < 16; ++i) Put64(ctx + 0x78 + i * 8, regs[i]);
    Put64(ctx + 0xF8, rip);
    if (fxsave != nullptr) {
        std::memcpy(ctx + 0x100, fxsave, 512);
        std::memcpy(ctx + 0x34, static_cast<const uint8_t*>(fxsave) + 24, 4);  // mxcsr
    }
}

}  // namespace platform::dumping
