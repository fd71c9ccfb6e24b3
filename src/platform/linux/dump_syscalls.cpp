#include "platform/linux/dump_syscalls.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

namespace platform::dumping {

long Sys(long n, long a, long b, long c, long d, long e, long f) { return syscall(n, a, b, c, d, e, f); }

long SysGettid() { return Sys(SYS_gettid); }

uint32_t SysGetpid() { return static_cast<uint32_t>(Sys(SYS_getpid)); }

int SysOpen(const char* path, int flags, int mode) {
    return static_cast<int>(Sys(SYS_openat, AT_FDCWD, reinterpret_cast<long>(path), flags, mode));
}

void SysClose(int fd) { Sys(SYS_close, fd); }

long SysRead(int fd, void* buf, size_t n) { return Sys(SYS_read, fd, reinterpret_cast<long>(buf), static_cast<long>(n)); }

long SysPread(int fd, void* buf, size_t n, uint64_t off) {
    return Sys(SYS_pread64, fd, reinterpret_cast<long>(buf), static_cast<long>(n), static_cast<long>(off));
}

long SysPwrite(int fd, const void* buf, size_t n, uint64_t off) {
    return Sys(SYS_pwrite64, fd, reinterpret_cast<long>(buf), static_cast<long>(n), static_cast<long>(off));
}

void SysSleepMs(long ms) {
    struct timespec t {ms / 1000, (ms % 1000) * 1000 * 1000};
    Sys(SYS_nanosleep, reinterpret_cast<long>(&t), 0);
}

void SysDefaultAction(int sig) {
    // The kernel's own layout of a signal action; SIG_DFL needs no restorer.
    struct {
        void (*handler)(int);
        unsigned long flags;
        void (*restorer)();
        unsigned long mask;
    } action{SIG_DFL, 0, nullptr, 0};
    Sys(SYS_rt_sigaction, sig, reinterpret_cast<long>(&action), 0, sizeof action.mask);
}

// Where a sandbox filters process_vm_readv out: the /proc mem file reads the same memory.
size_t MemorySource::ReadThroughMemFile(uint64_t addr, void* buf, size_t n) const {
    char path[64];
    ProcPath(path, pid, "mem");
    const MemorySource file{pid, SysOpen(path, O_RDONLY | O_CLOEXEC)};
    if (file.memFd < 0) return 0;
    const size_t read = file.Read(addr, buf, n);
    SysClose(file.memFd);
    return read;
}

size_t MemorySource::Read(uint64_t addr, void* buf, size_t n) const {
    size_t total = 0;
    while (total < n) {
        long r;
        if (memFd >= 0) {
            r = SysPread(memFd, static_cast<char*>(buf) + total, n - total, addr + total);
        } else {
            struct iovec local {static_cast<char*>(buf) + total, n - total};
            struct iovec remote {reinterpret_cast<void*>(addr + total), n - total};
            r = Sys(SYS_process_vm_readv, pid, reinterpret_cast<long>(&local), 1, reinterpret_cast<long>(&remote), 1, 0);
            if (r < 0 && (errno == ENOSYS || errno == EPERM)) return ReadThroughMemFile(addr, buf, n);
        }
        if (r <= 0) break;
        total += static_cast<size_t>(r);
    }
    return total;
}

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

}  // namespace platform::dumping
