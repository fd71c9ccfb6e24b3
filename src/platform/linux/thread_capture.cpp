// The other threads. A copy of the process (made at the fault, without running any fork
// handler) stops each other thread of the faulting process with ptrace, takes its registers,
// writes the whole dump from its own snapshot and the stopped threads, and lets them go.
#include "platform/linux/process_capture.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/user.h>
#include <sys/wait.h>

#include <cerrno>

namespace platform::dumping {

#if defined(__x86_64__)
namespace {

constexpr long kCaptureLimitMs = 20000;

// Stops every thread of pid but the faulting one; their number, registers in space.threads[1..].
uint32_t StopOtherThreads(uint32_t pid, long faultingTid, CaptureSpace& space) {
    char path[64];
    ProcPath(path, pid, "task");
    const int dir = SysOpen(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return 0;
    uint32_t count = 0;
    for (;;) {
        const long n = Sys(SYS_getdents64, dir, reinterpret_cast<long>(space.copy), static_cast<long>(space.copySize));
        if (n <= 0) break;
        for (long at = 0; at < n;) {
            const auto* e = reinterpret_cast<const dirent64*>(space.copy + at);
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
            CapturedThread& t = space.threads[1 + count];
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
[[noreturn]] void CaptureInChild(int fd, uint32_t parent, const Fault& fault, CaptureSpace& space) {
    // A fault here ends the copy at once; the faulting process then writes what it can alone.
    static const int kFatal[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGSYS};
    for (int sig : kFatal) SysDefaultAction(sig);
    const uint32_t others = StopOtherThreads(parent, fault.tid, space);
    char mem[64];
    ProcPath(mem, parent, "mem");
    const int memFd = SysOpen(mem, O_RDONLY | O_CLOEXEC);
    const bool ok = WriteDump(fd, parent, fault, others, memFd, space);
    for (uint32_t i = 1; i <= others; ++i) Sys(SYS_ptrace, PTRACE_DETACH, space.threads[i].tid, 0, 0);
    for (;;) Sys(SYS_exit_group, ok ? 0 : 1);
}

}  // namespace

bool WriteDumpWithAllThreads(int fd, const Fault& fault, CaptureSpace& space) {
    const uint32_t self = SysGetpid();
    Sys(SYS_prctl, PR_SET_PTRACER, static_cast<long>(PR_SET_PTRACER_ANY), 0, 0);  // where ptrace is restricted to descendants' parents
    const long child = Sys(SYS_clone, SIGCHLD, 0, 0, 0);
    if (child == 0) CaptureInChild(fd, self, fault, space);
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
        SysSleepMs(10);
    }
}
#else
bool WriteDumpWithAllThreads(int, const Fault&, CaptureSpace&) { return false; }
#endif

}  // namespace platform::dumping
