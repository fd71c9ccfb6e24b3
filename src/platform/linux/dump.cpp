// The crash handler: installed with everything it needs reserved, it writes the dump at a fatal
// signal (process_capture.h) and replaces the process with the report process.
#include "platform/dump.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/debug.h"
#include "platform/fs.h"
#include "platform/linux/process_capture.h"
#include "platform/strings.h"

extern char** environ;

namespace platform {

namespace {

using namespace dumping;

constexpr size_t kPathMax = 4096;
constexpr size_t kMapsBufferSize = 2u << 20;   // /proc/self/maps of a sanitizer build is large
constexpr size_t kProcBufferSize = 64u << 10;  // status, cmdline, auxv
constexpr size_t kAltStackSize = 128u << 10;
constexpr size_t kCopyBufferSize = 64u << 10;
constexpr size_t kMaxEnvironment = 8192;
char kReportedMark[] = "ORVO_CRASH_REPORTED=1";

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGSYS};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];

struct HandOverBlock {
    std::string target, params, parentWnd;
    const int* pbExecuteApp = nullptr;
    const int* pbExecuted = nullptr;
};

// Everything the handler touches is made at install time: after a fault the heap, locks and
// most of the C library may be broken.
struct HandlerState {
    char dumpDir[kPathMax];
    char dumpPath[kPathMax];  // empty: a crash writes no dump but still hands over
    char program[kPathMax];
    CaptureSpace space;
    char** environment = nullptr;  // the re-executed program's: ours plus the mark
    bool reexecute = true;         // false in a process that a crash handler started
    struct sigaction previous[kSignalCount];
};

HandlerState g_state;
std::atomic<bool> g_installed{false};
std::atomic<HandOverBlock*> g_handOver{nullptr};
std::atomic<long> g_handlingThread{0};
std::mutex g_setupLock;  // install, remove and hand-over changes (never taken by the handler)
std::vector<std::unique_ptr<HandOverBlock>> g_retiredBlocks;  // a crash may still read them

void RestoreDefaultAndReraise(int sig) {
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(sig, &dfl, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    Sys(SYS_tgkill, SysGetpid(), SysGettid(), sig);
}

// The dump at g_state.dumpPath; false when none could be written.
bool WriteDumpFile(const Fault& fault) {
    if (g_state.dumpPath[0] == 0) return false;
    MakeFolderChain(g_state.dumpDir);
    // A fresh file: never write through a link someone left at the name.
    Sys(SYS_unlinkat, AT_FDCWD, reinterpret_cast<long>(g_state.dumpPath), 0);
    const int fd = SysOpen(g_state.dumpPath, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool written = WriteDumpWithAllThreads(fd, fault, g_state.space);
    if (!written) {
        // The faulting thread alone, from this process.
        Sys(SYS_ftruncate, fd, 0);
        written = WriteDump(fd, SysGetpid(), fault, 0, -1, g_state.space);
    }
    Sys(SYS_fsync, fd);
    SysClose(fd);
    if (!written) Sys(SYS_unlinkat, AT_FDCWD, reinterpret_cast<long>(g_state.dumpPath), 0);
    return written;
}

// Replaces the process with the report process: the upload and the hand-over run there, with a
// sound heap. Returns only when that failed.
void StartReportProcess(bool written) {
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
        for (;;) SysSleepMs(1000);
    }
    const bool written = WriteDumpFile(Fault{sig, info, static_cast<const ucontext_t*>(ucv), tid});
    if (g_state.reexecute) StartReportProcess(written);
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

// ---------------------------------------------------------------------------------------------
// Installation

bool CopyPath(const std::wstring& from, char (&to)[kPathMax]) {
    const std::string native = ToNativePath(from);
    if (native.size() >= kPathMax) return false;
    std::memcpy(to, native.c_str(), native.size() + 1);
    return true;
}

template <typename T>
T* Reserve(size_t count) {
    void* p = mmap(nullptr, count * sizeof(T), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : static_cast<T*>(p);
}

bool ReserveMemory() {
    if (g_state.environment != nullptr) return true;
    CaptureSpace& s = g_state.space;
    s.maps = Reserve<char>(kMapsBufferSize);
    s.proc = Reserve<char>(kProcBufferSize);
    s.modules = Reserve<Module>(kMaxModules);
    s.threads = Reserve<CapturedThread>(kMaxThreads);
    s.copy = Reserve<char>(kCopyBufferSize);
    g_state.environment = Reserve<char*>(kMaxEnvironment);
    s.mapsSize = kMapsBufferSize;
    s.procSize = kProcBufferSize;
    s.copySize = kCopyBufferSize;
    if (s.maps != nullptr && s.proc != nullptr && s.modules != nullptr && s.threads != nullptr && s.copy != nullptr &&
        g_state.environment != nullptr)
        return true;
    g_state.environment = nullptr;  // tried again at the next install
    return false;
}

// Where the kernel put the environment strings it started the process with: fields 50 and 51 of
// /proc/self/stat (after the parenthesised name, which may hold anything).
Range EnvironmentBounds() {
    std::ifstream in("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    if (close == std::string::npos) return {};
    std::istringstream fields(text.substr(close + 1));
    std::string field;
    Range range;
    for (int number = 3; fields >> field; ++number) {
        if (number == 50) range.start = std::stoull(field);
        if (number == 51) range.end = std::stoull(field);
    }
    return range.start < range.end ? range : Range{};
}

void DescribeSystem(CaptureSpace& s) {
    struct utsname u {};
    if (uname(&u) == 0) {
        const char* p = u.release;
        const char* end = p + CStrLen(p);
        s.osMajor = static_cast<uint32_t>(ParseDec(p, end));
        if (p < end && *p == '.') ++p;
        s.osMinor = static_cast<uint32_t>(ParseDec(p, end));
        if (p < end && *p == '.') ++p;
        s.osBuild = static_cast<uint32_t>(ParseDec(p, end));
        const std::string text = std::string(u.sysname) + " " + u.release + " " + u.version + " " + u.machine;
        s.systemTextLength = 0;
        for (char c : text) {
            if (s.systemTextLength + 1 >= sizeof s.systemText / 2) break;
            s.systemText[s.systemTextLength++] = static_cast<uint8_t>(c) < 0x80 ? static_cast<uint8_t>(c) : '?';
        }
        s.systemText[s.systemTextLength] = 0;
    }
    const long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    s.processors = static_cast<uint8_t>(cpus > 0 && cpus < 255 ? cpus : 1);
}

bool PrepareState(const CrashHandlerSettings& settings) {
    if (!ReserveMemory()) return false;
    if (!CopyPath(settings.strDumpDir, g_state.dumpDir) || !CopyPath(settings.strDumpPath, g_state.dumpPath)) {
        // Still a handler: the crash is reported and handed over, only without a dump.
        g_state.dumpDir[0] = g_state.dumpPath[0] = 0;
        OutputDebug(FormatW(L"[VUSVC] the dump path is too long: a crash writes no dump [%s]\n", settings.strDumpPath));
    }
    bool haveProgram = false;
    if (!settings.strReportProgram.empty()) {
        haveProgram = CopyPath(settings.strReportProgram, g_state.program);
    } else {
        const ssize_t n = readlink("/proc/self/exe", g_state.program, kPathMax - 1);
        haveProgram = n > 0;
        if (haveProgram) g_state.program[n] = 0;
    }
    if (!haveProgram) CopyString(g_state.program, "/proc/self/exe", kPathMax);
    DescribeSystem(g_state.space);
    g_state.space.environment = EnvironmentBounds();
    // A program started by a crash handler never starts another: a crash there ends it.
    g_state.reexecute = getenv("ORVO_CRASH_REPORTED") == nullptr;
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
