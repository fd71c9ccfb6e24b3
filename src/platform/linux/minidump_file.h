// The minidump file (MDMP) as standard debuggers read it: a header, a directory of streams, then
// the streams, little-endian; and the 64-bit x86 thread context. It knows nothing of how the
// process it describes was captured. Every call is safe in a signal handler.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/linux/dump_syscalls.h"

namespace platform::dumping {

constexpr uint32_t kStreamThreadList = 3, kStreamModuleList = 4, kStreamMemoryList = 5,
                   kStreamException = 6, kStreamSystemInfo = 7, kStreamMiscInfo = 15,
                   kStreamLinuxProcStatus = 0x47670004, kStreamLinuxCmdLine = 0x47670006,
                   kStreamLinuxAuxv = 0x47670008, kStreamLinuxMaps = 0x47670009;
constexpr uint32_t kContextSize = 1232;  // the 64-bit x86 thread context
constexpr uint32_t kElfBuildIdSignature = 0x4C457042;  // "BpEL": a code-view record of ELF build id

struct Location {
    uint32_t size = 0;
    uint32_t rva = 0;
};

// A range of addresses whose bytes never enter the file.
struct Range {
    uint64_t start = 0, end = 0;
};

class MinidumpFile {
public:
    // Writes to fd; buffer carries memory on its way from the process to the file.
    MinidumpFile(int fd, char* buffer, size_t bufferSize);

    // Bytes of the memory ranges that are written as zeros, wherever they fall.
    void Exclude(Range range) { m_excluded = range; }

    // Appends bytes; their offset.
    uint32_t Append(const void* data, size_t n);
    // Appends n bytes of the process from addr: zeros where unreadable or excluded.
    uint32_t AppendMemory(const MemorySource& source, uint64_t addr, size_t n);
    // A length-prefixed UTF-16 string with its terminator, from UTF-8; its offset.
    uint32_t AppendString(const char* utf8, size_t n);
    void Align4();
    void AddStream(uint32_t type, Location loc);
    // Appends data as a stream of its own.
    Location Stream(uint32_t type, const void* data, size_t n);
    // Written last: the header counts the streams.
    void WriteHeader(uint32_t timeStamp);
    bool Ok() const { return m_ok; }

private:
    bool Put(const void* data, size_t n, uint64_t off);
    void BlankExcluded(uint64_t addr, char* bytes, size_t n) const;
    int m_fd;
    char* m_buffer;
    size_t m_bufferSize;
    uint64_t m_pos;
    uint32_t m_streams = 0;
    bool m_ok = true;
    Range m_excluded;
};

void Put16(uint8_t* p, uint16_t v);
void Put32(uint8_t* p, uint32_t v);
void Put64(uint8_t* p, uint64_t v);

// The thread context from the general registers (in the order rax rcx rdx rbx rsp rbp rsi rdi
// r8..r15), rip, flags, segments and the fxsave area (may be null).
void FillContext(uint8_t* ctx, const uint64_t (&regs)[16], uint64_t rip, uint64_t eflags, uint16_t cs, uint16_t fs,
                 uint16_t gs, uint16_t ss, const void* fxsave);

}  // namespace platform::dumping
