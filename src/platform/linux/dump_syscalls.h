// What the crash handler may call after a fault: raw system calls (the C library's wrappers may
// be intercepted by sanitizers or take locks), reads of process memory that fail instead of
// faulting, and small string helpers that need neither the heap nor the locale.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform::dumping {

long Sys(long n, long a = 0, long b = 0, long c = 0, long d = 0, long e = 0, long f = 0);
long SysGettid();
uint32_t SysGetpid();
int SysOpen(const char* path, int flags, int mode = 0);
void SysClose(int fd);
long SysRead(int fd, void* buf, size_t n);
long SysPread(int fd, void* buf, size_t n, uint64_t off);
long SysPwrite(int fd, const void* buf, size_t n, uint64_t off);
void SysSleepMs(long ms);
// The default action for sig again, with raw calls (usable in a copy of the process).
void SysDefaultAction(int sig);

// Where the memory of the dumped process is read: the process pid through the kernel's copy
// (this process included), or the /proc mem file of a stopped one. A mapping whose file was
// truncated reads as an error here, where a plain load would raise SIGBUS.
struct MemorySource {
    uint32_t pid = 0;
    int memFd = -1;
    // Bytes copied to buf from addr: fewer than n (0 included) at the first unreadable byte.
    size_t Read(uint64_t addr, void* buf, size_t n) const;
    // All n bytes, or false.
    bool ReadAll(uint64_t addr, void* buf, size_t n) const { return Read(addr, buf, n) == n; }

private:
    size_t ReadThroughMemFile(uint64_t addr, void* buf, size_t n) const;
};

// Reads a whole /proc file into buf; the number of bytes read (the file may be cut at cap).
size_t ReadProcFile(const char* path, char* buf, size_t cap);
// "/proc/<pid>/<name>"
void ProcPath(char (&out)[64], uint32_t pid, const char* name);
// Creates every missing folder of a native path (parents first).
void MakeFolderChain(char* path);

size_t CStrLen(const char* s);
void CopyString(char* to, const char* from, size_t cap);
uint64_t ParseHex(const char*& p, const char* end);
uint64_t ParseDec(const char*& p, const char* end);
void SkipSpaces(const char*& p, const char* end);

}  // namespace platform::dumping
