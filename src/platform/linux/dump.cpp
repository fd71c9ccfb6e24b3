#include "platform/dump.h"

#include <elf.h>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "platform/strings.h"

extern char** environ;

namespace platform {

namespace {

// ---------------------------------------------------------------------------------------------
// Everything the handler touches is made here, at install time: after a fault the heap, locks
// and most of the C library may be broken.

constexpr size_t kPathMax = 4096;
constexpr size_t kMapsBufferSize = 2u << 20;     // /proc/self/maps of a sanitizer build is large
constexpr size_t kProcBufferSize = 64u << 10;    // status, cmdline, auxv
constexpr size_t kAltStackSize = 128u << 10;
constexpr size_t kCopyBufferSize = 64u << 10;
constexpr size_t kMaxEnvironment = 8192;
char kReportedMark[] = "ORVO_CRASH_REPORTED=1";
constexpr size_t kMaxModules = 1024;
constexpr uint64_t kMaxStackBytes = 2u << 20;    // of the faulting thread, from its stack pointer up
constexpr uint64_t kRedZone = 128;

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGSYS};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];

struct HandOverBlock {
    std::string target, params, parentWnd;
    const int* pbExecuteApp = nullptr;
    const int* pbExecuted = nullptr;
};

struct Module {
    uint64_t base = 0, end = 0;
    uint32_t pathOffset = 0, pathLength = 0;  // in the maps buffer
    uint8_t buildId[64];
    uint32_t buildIdSize = 0;
};

constexpr uint32_t kMaxThreads = 256;

struct CapturedThread {
    uint32_t tid = 0;
    uint64_t sp = 0;
    uint8_t context[1232];
};

struct HandlerState {
    char dumpDir[kPathMax];
    char dumpPath[kPathMax];
    char program[kPathMax];
    char* mapsBuffer = nullptr;
    char* procBuffer = nullptr;
    Module* modules = nullptr;
    CapturedThread* threads = nullptr;  // [0] is the faulting thread
    char* copyBuffer = nullptr;         // memory read from the stopped process
    char** environment = nullptr;       // the re-executed program's: ours plus the mark
    bool reexecute = true;              // false in a process that a crash handler started
    uint16_t systemText[256];      // uname, as the dump's system description
    uint32_t systemTextLength = 0;  // characters
    uint32_t osMajor = 0, osMinor = 0, osBuild = 0;
    uint8_t processors = 1;
    struct sigaction previous[kSignalCount];
};

HandlerState g_state;
std::atomic<bool> g_installed{false};
std::atomic<HandOverBlock*> g_handOver{nullptr};
std::atomic<long> g_handlingThread{0};
std::mutex g_setupLock;  // install, remove and hand-over changes (never taken by the handler)
std::vector<std::unique_ptr<HandOverBlock>> g_retiredBlocks;  // a crash may still read them

// ---------------------------------------------------------------------------------------------
// Raw system calls: the C library's wrappers may be intercepted (sanitizers) or take locks.

long Sys(long n, long a = 0, long b = 0, long c = 0, long d = 0) { return syscall(n, a, b, c, d); }
long SysGettid() { return Sys(SYS_gettid); }
int SysOpen(const char* path, int flags, int mode = 0) {
    return static_cast<int>(Sys(SYS_openat, AT_FDCWD, reinterpret_cast<long>(path), flags, mode));
}
void SysClose(int fd) { Sys(SYS_close, fd); }
long SysRead(int fd, void* buf, size_t n) { return Sys(SYS_read, fd, reinterpret_cast<long>(buf), static_cast<long>(n)); }
long SysPwrite(int fd, const void* buf, size_t n, uint64_t off) {
    return Sys(SYS_pwrite64, fd, reinterpret_cast<long>(buf), static_cast<long>(n), static_cast<long>(off));
}

// Reads a whole /proc file into buf; the number of bytes read (the file may be cut at cap).
size_t ReadProcFile(const char* path, char* buf, size_t cap) {
    const int fd = SysOpen(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    size_t total = 0;
    while (total < cap) {
        const long n = SysRead(fd, buf + total, cap - total);
        if (n <= 0) break;
        total += static_cast<size_t>(n);
    }
    SysClose(fd);
    return total;
}

size_t CStrLen(const char* s) {
    size_t n = 0;
    while (s[n] != 0) ++n;
    return n;
}

void CopyString(char* to, const char* from, size_t cap) {
    size_t i = 0;
    for (; from[i] != 0 && i + 1 < cap; ++i) to[i] = from[i];
    to[i] = 0;
}

// "/proc/<pid>/<name>"
void ProcPath(char (&out)[64], uint32_t pid, const char* name) {
    char digits[16];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + pid % 10);
        pid /= 10;
    } while (pid != 0);
    size_t at = 0;
    for (const char* p = "/proc/"; *p != 0;) out[at++] = *p++;
    while (n > 0) out[at++] = digits[--n];
    out[at++] = '/';
    CopyString(out + at, name, sizeof out - at);
}

// Creates every missing folder of a native path (parents first).
void MakeFolderChain(char* path) {
    const size_t n = CStrLen(path);
    for (size_t i = 1; i <= n; ++i) {
        if (path[i] == '/' || path[i] == 0) {
            const char saved = path[i];
            path[i] = 0;
            Sys(SYS_mkdirat, AT_FDCWD, reinterpret_cast<long>(path), 0755);
            path[i] = saved;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// The file: a header, a stream directory, then the streams, little-endian.

constexpr uint32_t kSignature = 0x504D444D;  // "MDMP"
constexpr uint32_t kFormatVersion = 0xA793;
constexpr uint32_t kStreamThreadList = 3, kStreamModuleList = 4, kStreamMemoryList = 5,
                   kStreamException = 6, kStreamSystemInfo = 7, kStreamMiscInfo = 15,
                   kStreamLinuxProcStatus = 0x47670004, kStreamLinuxCmdLine = 0x47670006,
                   kStreamLinuxAuxv = 0x47670008, kStreamLinuxMaps = 0x47670009;
constexpr uint32_t kMaxStreams = 10;
constexpr uint32_t kDirectoryRva = 32;
constexpr uint32_t kContextSize = 1232;          // the 64-bit x86 thread context
constexpr uint32_t kElfBuildIdSignature = 0x4C457042;  // "BpEL": a code-view record of ELF build id

struct Location {
    uint32_t size = 0;
    uint32_t rva = 0;
};

class DumpFile {
public:
    explicit DumpFile(int fd) : m_fd(fd) { m_pos = kDirectoryRva + kMaxStreams * 12; }

    // Appends bytes; their offset.
    uint32_t Append(const void* data, size_t n) {
        const uint32_t at = static_cast<uint32_t>(m_pos);
        Put(data, n, m_pos);
        m_pos += n;
        return at;
    }
    // Appends memory of the process that may not be readable throughout: unreadable parts
    // become zeros.
    uint32_t AppendMemory(uint64_t addr, size_t n) {
        const uint32_t at = static_cast<uint32_t>(m_pos);
        static const char zeros[4096] = {};
        while (n > 0) {
            const size_t chunk = n < 4096 ? n : 4096;
            const long w = SysPwrite(m_fd, reinterpret_cast<const void*>(addr), chunk, m_pos);
            if (w <= 0 && !Put(zeros, chunk, m_pos)) return at;
            const size_t done = w > 0 ? static_cast<size_t>(w) : chunk;
            m_pos += done;
            addr += done;
            n -= done;
        }
        return at;
    }
    // Appends memory of another process read through its /proc mem file (zeros where unreadable).
    uint32_t AppendRemote(int memFd, uint64_t addr, size_t n) {
        const uint32_t at = static_cast<uint32_t>(m_pos);
        while (n > 0) {
            const size_t chunk = n < kCopyBufferSize ? n : kCopyBufferSize;
            const long r = Sys(SYS_pread64, memFd, reinterpret_cast<long>(g_state.copyBuffer), static_cast<long>(chunk), static_cast<long>(addr));
            if (r <= 0) std::memset(g_state.copyBuffer, 0, chunk);
            const size_t done = r > 0 ? static_cast<size_t>(r) : chunk;
            if (!Put(g_state.copyBuffer, done, m_pos)) return at;
            m_pos += done;
            addr += done;
            n -= done;
        }
        return at;
    }
    void Align4() {
        static const char pad[4] = {};
        if (m_pos % 4 != 0) Append(pad, 4 - m_pos % 4);
    }
    void AddStream(uint32_t type, Location loc) {
        if (m_streams == kMaxStreams) return;
        const uint32_t entry[3] = {type, loc.size, loc.rva};
        Put(entry, sizeof entry, kDirectoryRva + m_streams * 12);
        ++m_streams;
    }
    Location Stream(uint32_t type, const void* data, size_t n) {
        Align4();
        Location loc{static_cast<uint32_t>(n), Append(data, n)};
        AddStream(type, loc);
        return loc;
    }
    void WriteHeader(uint32_t timeStamp) {
        uint32_t header[8] = {kSignature, kFormatVersion, m_streams, kDirectoryRva, 0, timeStamp, 0, 0};
        Put(header, sizeof header, 0);
    }
    uint64_t Position() const { return m_pos; }
    bool Ok() const { return m_ok; }

private:
    bool Put(const void* data, size_t n, uint64_t off) {
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
    int m_fd;
    uint64_t m_pos;
    uint32_t m_streams = 0;
    bool m_ok = true;
};

void Put16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }
void Put32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
void Put64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, 8); }

// A length-prefixed UTF-16 string with its terminator; its offset.
uint32_t AppendString(DumpFile& f, const char* utf8, size_t n) {
    f.Align4();
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
    const uint32_t at = f.Append(&bytes, 4);
    units[count] = 0;
    f.Append(units, bytes + 2);
    return at;
}

// ---------------------------------------------------------------------------------------------
// /proc/self/maps

struct MapLine {
    uint64_t start = 0, end = 0, offset = 0, inode = 0;
    char perms[4] = {};
    const char* path = nullptr;
    size_t pathLength = 0;
};

uint64_t ParseHex(const char*& p, const char* end) {
    uint64_t v = 0;
    for (; p < end; ++p) {
        const char c = *p;
        if (c >= '0' && c <= '9') v = v * 16 + static_cast<uint64_t>(c - '0');
        else if (c >= 'a' && c <= 'f') v = v * 16 + static_cast<uint64_t>(c - 'a' + 10);
        else break;
    }
    return v;
}
uint64_t ParseDec(const char*& p, const char* end) {
    uint64_t v = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) v = v * 10 + static_cast<uint64_t>(*p - '0');
    return v;
}
void SkipSpaces(const char*& p, const char* end) {
    while (p < end && *p == ' ') ++p;
}

// Parses the line starting at p; the start of the next line.
const char* NextMapLine(const char* p, const char* end, MapLine& out) {
    const char* eol = p;
    while (eol < end && *eol != '\n') ++eol;
    out = MapLine{};
    out.start = ParseHex(p, eol);
    if (p < eol && *p == '-') ++p;
    out.end = ParseHex(p, eol);
    SkipSpaces(p, eol);
    for (int i = 0; i < 4 && p < eol; ++i) out.perms[i] = *p++;
    SkipSpaces(p, eol);
    out.offset = ParseHex(p, eol);
    SkipSpaces(p, eol);
    while (p < eol && *p != ' ') ++p;  // device
    SkipSpaces(p, eol);
    out.inode = ParseDec(p, eol);
    SkipSpaces(p, eol);
    out.path = p;
    out.pathLength = static_cast<size_t>(eol - p);
    return eol < end ? eol + 1 : end;
}

bool FindMapping(const char* maps, size_t n, uint64_t addr, MapLine& out) {
    for (const char* p = maps; p < maps + n;) {
        p = NextMapLine(p, maps + n, out);
        if (addr >= out.start && addr < out.end) return true;
    }
    return false;
}

// The GNU build id from the program headers of an ELF image mapped at base (readable
// [base, readableEnd)); its size, 0 when none.
__attribute__((no_sanitize("address", "undefined")))
uint32_t ReadBuildId(uint64_t base, uint64_t readableEnd, uint8_t* out, uint32_t cap) {
    auto inside = [&](uint64_t at, uint64_t n) { return at >= base && n <= readableEnd - at && at <= readableEnd; };
    if (!inside(base, sizeof(Elf64_Ehdr))) return 0;
    Elf64_Ehdr eh;
    std::memcpy(&eh, reinterpret_cast<const void*>(base), sizeof eh);
    if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64) return 0;
    if (eh.e_phentsize != sizeof(Elf64_Phdr)) return 0;
    const uint64_t phAt = base + eh.e_phoff;
    if (!inside(phAt, uint64_t{eh.e_phnum} * sizeof(Elf64_Phdr))) return 0;
    uint64_t bias = base;
    for (int i = 0; i < eh.e_phnum; ++i) {
        Elf64_Phdr ph;
        std::memcpy(&ph, reinterpret_cast<const void*>(phAt + i * sizeof ph), sizeof ph);
        if (ph.p_type == PT_LOAD) {
            bias = base - (ph.p_vaddr & ~uint64_t{0xFFF});
            break;
        }
    }
    for (int i = 0; i < eh.e_phnum; ++i) {
        Elf64_Phdr ph;
        std::memcpy(&ph, reinterpret_cast<const void*>(phAt + i * sizeof ph), sizeof ph);
        if (ph.p_type != PT_NOTE) continue;
        uint64_t at = bias + ph.p_vaddr;
        const uint64_t noteEnd = at + ph.p_memsz;
        if (!inside(at, ph.p_memsz)) continue;
        while (at + sizeof(Elf64_Nhdr) <= noteEnd) {
            Elf64_Nhdr nh;
            std::memcpy(&nh, reinterpret_cast<const void*>(at), sizeof nh);
            const uint64_t nameAt = at + sizeof nh;
            const uint64_t descAt = nameAt + ((nh.n_namesz + 3u) & ~3u);
            const uint64_t next = descAt + ((nh.n_descsz + 3u) & ~3u);
            if (next > noteEnd) break;
            if (nh.n_type == NT_GNU_BUILD_ID && nh.n_namesz == 4 &&
                std::memcmp(reinterpret_cast<const void*>(nameAt), "GNU", 4) == 0 && nh.n_descsz <= cap) {
                std::memcpy(out, reinterpret_cast<const void*>(descAt), nh.n_descsz);
                return nh.n_descsz;
            }
            at = next;
        }
    }
    return 0;
}

// Collects the mapped ELF files: one module per path, from its mapping at offset 0 to its last
// mapping.
uint32_t CollectModules(const char* maps, size_t n) {
    uint32_t count = 0;
    Module* current = nullptr;
    const char* currentPath = nullptr;
    size_t currentLength = 0;
    for (const char* p = maps; p < maps + n;) {
        MapLine line;
        p = NextMapLine(p, maps + n, line);
        if (line.pathLength == 0 || line.path[0] != '/' || line.inode == 0) continue;
        if (current != nullptr && line.pathLength == currentLength &&
            std::memcmp(line.path, currentPath, currentLength) == 0) {
            if (line.end > current->end) current->end = line.end;
            continue;
        }
        current = nullptr;
        if (line.offset != 0 || line.perms[0] != 'r' || count == kMaxModules) continue;
        if (line.end - line.start < 4 || std::memcmp(reinterpret_cast<const void*>(line.start), ELFMAG, SELFMAG) != 0) continue;
        Module& m = g_state.modules[count++];
        m.base = line.start;
        m.end = line.end;
        m.pathOffset = static_cast<uint32_t>(line.path - maps);
        m.pathLength = static_cast<uint32_t>(line.pathLength);
        m.buildIdSize = ReadBuildId(line.start, line.end, m.buildId, sizeof m.buildId);
        current = &m;
        currentPath = line.path;
        currentLength = line.pathLength;
    }
    return count;
}

// ---------------------------------------------------------------------------------------------
// Streams

// The 64-bit x86 thread context from the general registers (in the order rax rcx rdx rbx rsp rbp
// rsi rdi r8..r15), rip, flags, segments and the fxsave area.
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

void ContextFromSignal(uint8_t* ctx, const ucontext_t* uc) {
#if defined(__x86_64__)
    const greg_t* g = uc->uc_mcontext.gregs;
    const uint64_t csgsfs = static_cast<uint64_t>(g[REG_CSGSFS]);
    const int order[16] = {REG_RAX, REG_RCX, REG_RDX, REG_RBX, REG_RSP, REG_RBP, REG_RSI, REG_RDI,
                           REG_R8,  REG_R9,  REG_R10, REG_R11, REG_R12, REG_R13, REG_R14, REG_R15};
    uint64_t regs[16];
    for (int i = 0; i < 16; ++i) regs[i] = static_cast<uint64_t>(g[order[i]]);
    FillContext(ctx, regs, static_cast<uint64_t>(g[REG_RIP]), static_cast<uint64_t>(g[REG_EFL]),
                static_cast<uint16_t>(csgsfs & 0xFFFF), static_cast<uint16_t>((csgsfs >> 32) & 0xFFFF),
                static_cast<uint16_t>((csgsfs >> 16) & 0xFFFF), 0, uc->uc_mcontext.fpregs);
#else
    std::memset(ctx, 0, kContextSize);
    (void)uc;
#endif
}

uint64_t StackPointer(const ucontext_t* uc) {
#if defined(__x86_64__)
    return static_cast<uint64_t>(uc->uc_mcontext.gregs[REG_RSP]);
#else
    (void)uc;
    return 0;
#endif
}

bool WriteDump(int fd, uint32_t pid, int sig, const siginfo_t* info, const ucontext_t* uc, long tid, uint32_t otherThreads, int memFd) {
    DumpFile f(fd);
    // The process dumped: this one, or the parent of the capturing copy.
    char proc[64];
    ProcPath(proc, pid, "");
    const size_t procLength = CStrLen(proc);
    auto file = [&](const char* name) {
        CopyString(proc + procLength, name, sizeof proc - procLength);
        return static_cast<const char*>(proc);
    };

    // The maps first: modules and stack bounds come from it.
    const size_t mapsSize = ReadProcFile(file("maps"), g_state.mapsBuffer, kMapsBufferSize);
    f.Stream(kStreamLinuxMaps, g_state.mapsBuffer, mapsSize);
    size_t n = ReadProcFile(file("status"), g_state.procBuffer, kProcBufferSize);
    f.Stream(kStreamLinuxProcStatus, g_state.procBuffer, n);
    n = ReadProcFile(file("cmdline"), g_state.procBuffer, kProcBufferSize);
    f.Stream(kStreamLinuxCmdLine, g_state.procBuffer, n);
    n = ReadProcFile(file("auxv"), g_state.procBuffer, kProcBufferSize);
    f.Stream(kStreamLinuxAuxv, g_state.procBuffer, n);

    // System information.
    {
        f.Align4();
        const uint32_t bytes = g_state.systemTextLength * 2;
        const uint32_t text = f.Append(&bytes, 4);
        f.Append(g_state.systemText, bytes + 2);
        uint8_t si[56] = {};
        Put16(si + 0, 9);  // 64-bit x86
        si[6] = g_state.processors;
        Put32(si + 8, g_state.osMajor);
        Put32(si + 12, g_state.osMinor);
        Put32(si + 16, g_state.osBuild);
        Put32(si + 20, 0x8201);  // Linux
        Put32(si + 24, text);
        f.Stream(kStreamSystemInfo, si, sizeof si);
    }
    {
        uint32_t misc[6] = {24, 1 /* process id valid */, pid, 0, 0, 0};
        f.Stream(kStreamMiscInfo, misc, sizeof misc);
    }

    // The threads: the faulting one first, then those the capture stopped. Each with its stack,
    // from the stack pointer (less the red zone) to the end of its mapping.
    ContextFromSignal(g_state.threads[0].context, uc);
    g_state.threads[0].tid = static_cast<uint32_t>(tid);
    g_state.threads[0].sp = StackPointer(uc);
    const uint32_t threadCount = 1 + otherThreads;
    uint32_t contextRva[kMaxThreads];
    uint64_t stackStart[kMaxThreads], stackSize[kMaxThreads];
    uint32_t stackRva[kMaxThreads];
    for (uint32_t i = 0; i < threadCount; ++i) {
        CapturedThread& t = g_state.threads[i];
        f.Align4();
        contextRva[i] = f.Append(t.context, kContextSize);
        stackStart[i] = t.sp > kRedZone ? t.sp - kRedZone : 0;
        stackSize[i] = 0;
        MapLine stackMap;
        if (t.sp != 0 && FindMapping(g_state.mapsBuffer, mapsSize, t.sp, stackMap)) {
            if (stackStart[i] < stackMap.start) stackStart[i] = stackMap.start;
            stackSize[i] = stackMap.end - stackStart[i];
            if (stackSize[i] > kMaxStackBytes) stackSize[i] = kMaxStackBytes;
        }
        f.Align4();
        // The faulting thread's stack is this process's own (or its snapshot); the others are read
        // from the stopped process.
        stackRva[i] = i == 0 || memFd < 0 ? f.AppendMemory(stackStart[i], static_cast<size_t>(stackSize[i]))
                                          : f.AppendRemote(memFd, stackStart[i], static_cast<size_t>(stackSize[i]));
    }
    {
        f.Align4();
        const uint32_t at = f.Append(&threadCount, 4);
        for (uint32_t i = 0; i < threadCount; ++i) {
            uint8_t t[48] = {};
            Put32(t + 0, g_state.threads[i].tid);
            Put64(t + 24, stackStart[i]);
            Put32(t + 32, static_cast<uint32_t>(stackSize[i]));
            Put32(t + 36, stackRva[i]);
            Put32(t + 40, kContextSize);
            Put32(t + 44, contextRva[i]);
            f.Append(t, sizeof t);
        }
        f.AddStream(kStreamThreadList, Location{4 + threadCount * 48, at});
    }
    {
        f.Align4();
        const uint32_t at = f.Append(&threadCount, 4);
        for (uint32_t i = 0; i < threadCount; ++i) {
            uint8_t d[16] = {};
            Put64(d + 0, stackStart[i]);
            Put32(d + 8, static_cast<uint32_t>(stackSize[i]));
            Put32(d + 12, stackRva[i]);
            f.Append(d, sizeof d);
        }
        f.AddStream(kStreamMemoryList, Location{4 + threadCount * 16, at});
    }
    const Location context{kContextSize, contextRva[0]};

    // The fault: the signal, its code and the faulting address.
    {
        uint8_t ex[168] = {};
        Put32(ex + 0, static_cast<uint32_t>(tid));
        Put32(ex + 8, static_cast<uint32_t>(sig));
        Put32(ex + 12, info != nullptr ? static_cast<uint32_t>(info->si_code) : 0);
        Put64(ex + 24, info != nullptr ? reinterpret_cast<uint64_t>(info->si_addr) : 0);
        Put32(ex + 160, context.size);
        Put32(ex + 164, context.rva);
        f.Stream(kStreamException, ex, sizeof ex);
    }

    // Modules, with their names and build ids.
    {
        const uint32_t count = CollectModules(g_state.mapsBuffer, mapsSize);
        for (uint32_t i = 0; i < count; ++i) {
            Module& m = g_state.modules[i];
            const uint32_t nameRva = AppendString(f, g_state.mapsBuffer + m.pathOffset, m.pathLength);
            uint32_t cvRva = 0, cvSize = 0;
            if (m.buildIdSize > 0) {
                f.Align4();
                cvRva = f.Append(&kElfBuildIdSignature, 4);
                f.Append(m.buildId, m.buildIdSize);
                cvSize = 4 + m.buildIdSize;
            }
            // Keep the record's fields where the reader looks: reuse the path fields.
            m.pathOffset = nameRva;
            m.pathLength = cvRva;
            m.buildIdSize = cvSize;
        }
        f.Align4();
        const uint32_t bytes = 4 + count * 108;
        const uint32_t at = f.Append(&count, 4);
        for (uint32_t i = 0; i < count; ++i) {
            const Module& m = g_state.modules[i];
            uint8_t rec[108] = {};
            Put64(rec + 0, m.base);
            Put32(rec + 8, static_cast<uint32_t>(m.end - m.base));
            Put32(rec + 20, m.pathOffset);
            Put32(rec + 24, 0xFEEF04BD);  // an empty version block, signed
            Put32(rec + 76, m.buildIdSize);
            Put32(rec + 80, m.pathLength);
            f.Append(rec, sizeof rec);
        }
        f.AddStream(kStreamModuleList, Location{bytes, at});
    }

    struct timespec now {};
    Sys(SYS_clock_gettime, CLOCK_REALTIME, reinterpret_cast<long>(&now));
    f.WriteHeader(static_cast<uint32_t>(now.tv_sec));
    return f.Ok();
}

// ---------------------------------------------------------------------------------------------
// The other threads. A copy of the process (made at the fault, without running any fork
// handler) stops each other thread of the faulting process with ptrace, takes its registers,
// writes the whole dump from its own snapshot and the stopped threads, and lets them go. When
// that cannot be done, the faulting process writes the dump of the faulting thread alone.

constexpr long kCaptureLimitMs = 20000;

#if defined(__x86_64__)
uint32_t StopOtherThreads(uint32_t pid, long faultingTid) {
    char path[64];
    ProcPath(path, pid, "task");
    const int dir = SysOpen(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return 0;
    uint32_t count = 0;
    for (;;) {
        const long n = Sys(SYS_getdents64, dir, reinterpret_cast<long>(g_state.copyBuffer), static_cast<long>(kCopyBufferSize));
        if (n <= 0) break;
        for (long at = 0; at < n;) {
            const auto* e = reinterpret_cast<const dirent64*>(g_state.copyBuffer + at);
            at += e->d_reclen;
            const char* name = e->d_name;
            const char* end = name + CStrLen(name);
            if (name == end || *name < '0' || *name > '9') continue;
            const long tid = static_cast<long>(ParseDec(name, end));
            if (tid == faultingTid || count + 1 >= kMaxThreads) continue;
            if (Sys(SYS_ptrace, PTRACE_ATTACH, tid, 0, 0) != 0) continue;
            int status = 0;
            if (Sys(SYS_wait4, tid, reinterpret_cast<long>(&status), __WALL, 0) != tid || !WIFSTOPPED(status)) {
                Sys(SYS_ptrace, PTRACE_DETACH, tid, 0, 0);
                continue;
            }
            user_regs_struct r {};
            user_fpregs_struct fp {};
            CapturedThread& t = g_state.threads[1 + count];
            t.tid = static_cast<uint32_t>(tid);
            if (Sys(SYS_ptrace, PTRACE_GETREGS, tid, 0, reinterpret_cast<long>(&r)) != 0) {
                Sys(SYS_ptrace, PTRACE_DETACH, tid, 0, 0);
                continue;
            }
            const bool haveFp = Sys(SYS_ptrace, PTRACE_GETFPREGS, tid, 0, reinterpret_cast<long>(&fp)) == 0;
            const uint64_t regs[16] = {r.rax, r.rcx, r.rdx, r.rbx, r.rsp, r.rbp, r.rsi, r.rdi,
                                       r.r8,  r.r9,  r.r10, r.r11, r.r12, r.r13, r.r14, r.r15};
            FillContext(t.context, regs, r.rip, r.eflags, static_cast<uint16_t>(r.cs), static_cast<uint16_t>(r.fs),
                        static_cast<uint16_t>(r.gs), static_cast<uint16_t>(r.ss), haveFp ? &fp : nullptr);
            t.sp = r.rsp;
            ++count;
        }
    }
    SysClose(dir);
    return count;
}

// Runs in the copy; does not return.
[[noreturn]] void CaptureInChild(int fd, uint32_t parent, int sig, const siginfo_t* info, const ucontext_t* uc, long tid) {
    const uint32_t others = StopOtherThreads(parent, tid);
    char mem[64];
    ProcPath(mem, parent, "mem");
    const int memFd = SysOpen(mem, O_RDONLY | O_CLOEXEC);
    const bool ok = WriteDump(fd, parent, sig, info, uc, tid, others, memFd);
    for (uint32_t i = 1; i <= others; ++i) Sys(SYS_ptrace, PTRACE_DETACH, g_state.threads[i].tid, 0, 0);
    for (;;) Sys(SYS_exit_group, ok ? 0 : 1);
}

// True when the copy wrote the dump with every thread it could stop.
bool WriteDumpWithAllThreads(int fd, int sig, const siginfo_t* info, const ucontext_t* uc, long tid) {
    const uint32_t self = static_cast<uint32_t>(Sys(SYS_getpid));
    Sys(SYS_prctl, PR_SET_PTRACER, static_cast<long>(PR_SET_PTRACER_ANY), 0, 0);  // where ptrace is restricted to descendants' parents
    const long child = Sys(SYS_clone, SIGCHLD, 0, 0, 0);
    if (child == 0) CaptureInChild(fd, self, sig, info, uc, tid);
    if (child < 0) return false;
    int status = 0;
    for (long waited = 0;; waited += 10) {
        const long r = Sys(SYS_wait4, child, reinterpret_cast<long>(&status), WNOHANG | __WALL, 0);
        if (r == child) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (r < 0 && errno != EINTR) return false;
        if (waited >= kCaptureLimitMs) {
            Sys(SYS_kill, child, SIGKILL);  // a stopped thread stays stopped only while the copy lives
            Sys(SYS_wait4, child, reinterpret_cast<long>(&status), __WALL, 0);
            return false;
        }
        struct timespec t {0, 10 * 1000 * 1000};
        Sys(SYS_nanosleep, reinterpret_cast<long>(&t), 0);
    }
}
#else
bool WriteDumpWithAllThreads(int, int, const siginfo_t*, const ucontext_t*, long) { return false; }
#endif

// ---------------------------------------------------------------------------------------------
// The handler

void RestoreDefaultAndReraise(int sig) {
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(sig, &dfl, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    Sys(SYS_tgkill, Sys(SYS_getpid), SysGettid(), sig);
}

void OnFatalSignal(int sig, siginfo_t* info, void* ucv) {
    const int savedErrno = errno;
    const long tid = SysGettid();
    long expected = 0;
    if (!g_handlingThread.compare_exchange_strong(expected, tid)) {
        if (expected == tid) {
            // A fault inside the handler itself: let the system end the process.
            RestoreDefaultAndReraise(sig);
            return;
        }
        // Another thread is already writing the dump and will replace the process.
        for (;;) {
            struct timespec t {1, 0};
            Sys(SYS_nanosleep, reinterpret_cast<long>(&t), 0);
        }
    }

    bool written = false;
    if (g_state.dumpPath[0] != 0) {
        MakeFolderChain(g_state.dumpDir);
        // A fresh file: never write through a link someone left at the name.
        Sys(SYS_unlinkat, AT_FDCWD, reinterpret_cast<long>(g_state.dumpPath), 0);
        const int fd = SysOpen(g_state.dumpPath, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            const auto* uc = static_cast<const ucontext_t*>(ucv);
            written = WriteDumpWithAllThreads(fd, sig, info, uc, tid);
            if (!written) {
                Sys(SYS_ftruncate, fd, 0);
                written = WriteDump(fd, static_cast<uint32_t>(Sys(SYS_getpid)), sig, info, uc, tid, 0, -1);
            }
            Sys(SYS_fsync, fd);
            SysClose(fd);
            if (!written) Sys(SYS_unlinkat, AT_FDCWD, reinterpret_cast<long>(g_state.dumpPath), 0);
        }
    }

    // The report process: the upload and the hand-over run there, with a sound heap.
    static char empty[] = "";
    static char due[] = "1";
    static char notDue[] = "0";
    static char reportSwitch[] = "--crash-report";
    const HandOverBlock* h = g_handOver.load();
    bool bDue = false;
    if (h != nullptr && h->pbExecuteApp != nullptr) {
        bDue = *h->pbExecuteApp != 0 && (h->pbExecuted == nullptr || *h->pbExecuted == 0);
    }
    char* argv[8] = {
        g_state.program,
        reportSwitch,
        written ? g_state.dumpPath : empty,
        bDue ? due : notDue,
        h != nullptr ? const_cast<char*>(h->parentWnd.c_str()) : empty,
        h != nullptr ? const_cast<char*>(h->target.c_str()) : empty,
        h != nullptr ? const_cast<char*>(h->params.c_str()) : empty,
        nullptr,
    };
    if (!g_state.reexecute) {
        errno = savedErrno;
        RestoreDefaultAndReraise(sig);
        return;
    }
    size_t envCount = 0;
    for (char** e = environ; e != nullptr && *e != nullptr && envCount + 2 < kMaxEnvironment; ++e) g_state.environment[envCount++] = *e;
    g_state.environment[envCount++] = kReportedMark;
    g_state.environment[envCount] = nullptr;
    // The new program must not start with the fault's signal blocked.
    sigset_t none;
    sigemptyset(&none);
    Sys(SYS_rt_sigprocmask, SIG_SETMASK, reinterpret_cast<long>(&none), 0, sizeof(long));
    Sys(SYS_execve, reinterpret_cast<long>(g_state.program), reinterpret_cast<long>(argv), reinterpret_cast<long>(g_state.environment));
    // The program's file may be gone (its folder deleted during the run): the running image.
    static char self[] = "/proc/self/exe";
    Sys(SYS_execve, reinterpret_cast<long>(self), reinterpret_cast<long>(argv), reinterpret_cast<long>(g_state.environment));

    errno = savedErrno;
    RestoreDefaultAndReraise(sig);
}

// ---------------------------------------------------------------------------------------------
// Alternate stacks

struct AltStack {
    void* memory = nullptr;
    ~AltStack() {
        if (memory == nullptr) return;
        stack_t off {};
        off.ss_flags = SS_DISABLE;
        sigaltstack(&off, nullptr);
        munmap(memory, kAltStackSize + 4096);
    }
    void Install() {
        if (memory != nullptr) return;
        stack_t current {};
        if (sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) == 0 && current.ss_size >= kAltStackSize) return;
        void* p = mmap(nullptr, kAltStackSize + 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) return;
        mprotect(p, 4096, PROT_NONE);  // a guard below the stack
        stack_t st {};
        st.ss_sp = static_cast<char*>(p) + 4096;
        st.ss_size = kAltStackSize;
        if (sigaltstack(&st, nullptr) != 0) {
            munmap(p, kAltStackSize + 4096);
            return;
        }
        memory = p;
    }
};

thread_local AltStack t_altStack;

bool CopyPath(const std::wstring& from, char (&to)[kPathMax]) {
    const std::string native = ToNativePath(from);
    if (native.size() >= kPathMax) return false;
    std::memcpy(to, native.c_str(), native.size() + 1);
    return true;
}

bool PrepareState(const CrashHandlerSettings& settings) {
    if (g_state.mapsBuffer == nullptr) {
        void* maps = mmap(nullptr, kMapsBufferSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        void* proc = mmap(nullptr, kProcBufferSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        void* mods = mmap(nullptr, kMaxModules * sizeof(Module), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        void* threads = mmap(nullptr, kMaxThreads * sizeof(CapturedThread), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        void* copy = mmap(nullptr, kCopyBufferSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (maps == MAP_FAILED || proc == MAP_FAILED || mods == MAP_FAILED || threads == MAP_FAILED || copy == MAP_FAILED) return false;
        void* env = mmap(nullptr, kMaxEnvironment * sizeof(char*), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (env == MAP_FAILED) return false;
        g_state.environment = static_cast<char**>(env);
        g_state.threads = static_cast<CapturedThread*>(threads);
        g_state.copyBuffer = static_cast<char*>(copy);
        g_state.mapsBuffer = static_cast<char*>(maps);
        g_state.procBuffer = static_cast<char*>(proc);
        g_state.modules = static_cast<Module*>(mods);
    }
    if (!CopyPath(settings.strDumpDir, g_state.dumpDir) || !CopyPath(settings.strDumpPath, g_state.dumpPath)) return false;
    if (!settings.strReportProgram.empty()) {
        if (!CopyPath(settings.strReportProgram, g_state.program)) return false;
    } else {
        const ssize_t n = readlink("/proc/self/exe", g_state.program, kPathMax - 1);
        if (n <= 0) return false;
        g_state.program[n] = 0;
    }
    struct utsname u {};
    if (uname(&u) == 0) {
        const char* p = u.release;
        const char* end = p + CStrLen(p);
        g_state.osMajor = static_cast<uint32_t>(ParseDec(p, end));
        if (p < end && *p == '.') ++p;
        g_state.osMinor = static_cast<uint32_t>(ParseDec(p, end));
        if (p < end && *p == '.') ++p;
        g_state.osBuild = static_cast<uint32_t>(ParseDec(p, end));
        const std::string text = std::string(u.sysname) + " " + u.release + " " + u.version + " " + u.machine;
        g_state.systemTextLength = 0;
        for (char c : text) {
            if (g_state.systemTextLength + 1 >= sizeof g_state.systemText / 2) break;
            g_state.systemText[g_state.systemTextLength++] = static_cast<uint8_t>(c) < 0x80 ? static_cast<uint8_t>(c) : '?';
        }
        g_state.systemText[g_state.systemTextLength] = 0;
    }
    // A program started by a crash handler never starts another: a crash there ends it.
    g_state.reexecute = getenv("ORVO_CRASH_REPORTED") == nullptr;
    const long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    g_state.processors = static_cast<uint8_t>(cpus > 0 && cpus < 255 ? cpus : 1);
    return true;
}

}  // namespace

bool InstallCrashHandler(const CrashHandlerSettings& settings) {
    std::lock_guard<std::mutex> guard(g_setupLock);
    const bool wasInstalled = g_installed.load();
    if (wasInstalled) g_installed.store(false);
    if (!PrepareState(settings)) return false;
    t_altStack.Install();
    struct sigaction sa {};
    sa.sa_sigaction = OnFatalSignal;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    for (int sig : kSignals) sigaddset(&sa.sa_mask, sig);  // one fault at a time per thread
    for (int i = 0; i < kSignalCount; ++i) {
        struct sigaction old {};
        if (sigaction(kSignals[i], &sa, &old) != 0) return false;
        if (!wasInstalled) g_state.previous[i] = old;
    }
    g_installed.store(true);
    return true;
}

void RemoveCrashHandler() {
    std::lock_guard<std::mutex> guard(g_setupLock);
    if (!g_installed.load()) return;
    for (int i = 0; i < kSignalCount; ++i) sigaction(kSignals[i], &g_state.previous[i], nullptr);
    g_installed.store(false);
}

bool CrashHandlerInstalled() { return g_installed.load(); }

void SetCrashHandOver(const CrashHandOver& handOver) {
    auto block = std::make_unique<HandOverBlock>();
    block->target = ToNativePath(handOver.strTarget);
    block->params = ToUtf8(handOver.strParams);
    block->parentWnd = ToUtf8(handOver.strParentWnd);
    block->pbExecuteApp = handOver.pbExecuteApp;
    block->pbExecuted = handOver.pbExecuted;
    std::lock_guard<std::mutex> guard(g_setupLock);
    HandOverBlock* old = g_handOver.exchange(block.get());
    g_retiredBlocks.push_back(std::move(block));
    (void)old;  // kept in the retired list: a crash on another thread may still read it
}

void ClearCrashHandOver() {
    std::lock_guard<std::mutex> guard(g_setupLock);
    g_handOver.store(nullptr);
}

void ForgetCrashReportMark() { unsetenv("ORVO_CRASH_REPORTED"); }

void PrepareThreadForCrashes() {
    if (g_installed.load(std::memory_order_relaxed)) t_altStack.Install();
}

}  // namespace platform

namespace platform {

bool IsCrashDumpFile(const std::wstring& szPath) {
    const int fd = ::open(ToNativePath(szPath).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    char magic[4] = {};
    const bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::read(fd, magic, 4) == 4 && std::memcmp(magic, "MDMP", 4) == 0;
    ::close(fd);
    return ok;
}

}  // namespace platform
