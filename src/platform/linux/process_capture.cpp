#include "platform/linux/process_capture.h"

#include <sys/syscall.h>
#include <time.h>

#include <cstring>

namespace platform::dumping {

namespace {

constexpr uint64_t kMaxStackBytes = 2u << 20;  // of a thread, from its stack pointer up
constexpr uint64_t kRedZone = 128;

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

// The /proc files of the process as streams; the size of its maps text (kept in space.maps).
size_t WriteProcStreams(MinidumpFile& f, uint32_t pid, CaptureSpace& space) {
    char proc[64];
    ProcPath(proc, pid, "");
    const size_t procLength = CStrLen(proc);
    auto file = [&](const char* name) {
        CopyString(proc + procLength, name, sizeof proc - procLength);
        return static_cast<const char*>(proc);
    };
    const size_t mapsSize = ReadProcFile(file("maps"), space.maps, space.mapsSize);
    f.Stream(kStreamLinuxMaps, space.maps, mapsSize);
    // The command line stays; the environment never enters the dump.
    const struct {
        const char* name;
        uint32_t type;
    } streams[] = {{"status", kStreamLinuxProcStatus}, {"cmdline", kStreamLinuxCmdLine}, {"auxv", kStreamLinuxAuxv}};
    for (const auto& s : streams) f.Stream(s.type, space.proc, ReadProcFile(file(s.name), space.proc, space.procSize));
    return mapsSize;
}

void WriteSystemStreams(MinidumpFile& f, uint32_t pid, const CaptureSpace& space) {
    f.Align4();
    const uint32_t bytes = space.systemTextLength * 2;
    const uint32_t text = f.Append(&bytes, 4);
    f.Append(space.systemText, bytes + 2);
    uint8_t si[56] = {};
    Put16(si + 0, 9);  // 64-bit x86
    si[6] = space.processors;
    Put32(si + 8, space.osMajor);
    Put32(si + 12, space.osMinor);
    Put32(si + 16, space.osBuild);
    Put32(si + 20, 0x8201);  // Linux
    Put32(si + 24, text);
    f.Stream(kStreamSystemInfo, si, sizeof si);
    const uint32_t misc[6] = {24, 1 /* process id valid */, pid, 0, 0, 0};
    f.Stream(kStreamMiscInfo, misc, sizeof misc);
}

// The threads with their stacks, from the stack pointer (less the red zone) to the end of its
// mapping; the faulting thread's context.
Location WriteThreadStreams(MinidumpFile& f, uint32_t threadCount, size_t mapsSize, int memFd, CaptureSpace& space) {
    uint32_t contextRva[kMaxThreads];
    uint64_t stackStart[kMaxThreads], stackSize[kMaxThreads];
    uint32_t stackRva[kMaxThreads];
    // The faulting thread's stack is this process's own (or its copy's); the others are read from
    // the stopped process.
    const MemorySource own{SysGetpid(), -1};
    const MemorySource stopped{0, memFd};
    for (uint32_t i = 0; i < threadCount; ++i) {
        const CapturedThread& t = space.threads[i];
        f.Align4();
        contextRva[i] = f.Append(t.context, kContextSize);
        stackStart[i] = t.sp > kRedZone ? t.sp - kRedZone : 0;
        stackSize[i] = 0;
        MapLine stackMap;
        if (t.sp != 0 && FindMapping(space.maps, mapsSize, t.sp, stackMap)) {
            if (stackStart[i] < stackMap.start) stackStart[i] = stackMap.start;
            stackSize[i] = stackMap.end - stackStart[i];
            if (stackSize[i] > kMaxStackBytes) stackSize[i] = kMaxStackBytes;
        }
        f.Align4();
        stackRva[i] = f.AppendMemory(i == 0 || memFd < 0 ? own : stopped, stackStart[i], static_cast<size_t>(stackSize[i]));
    }
    f.Align4();
    uint32_t at = f.Append(&threadCount, 4);
    for (uint32_t i = 0; i < threadCount; ++i) {
        uint8_t t[48] = {};
        Put32(t + 0, space.threads[i].tid);
        Put64(t + 24, stackStart[i]);
        Put32(t + 32, static_cast<uint32_t>(stackSize[i]));
        Put32(t + 36, stackRva[i]);
        Put32(t + 40, kContextSize);
        Put32(t + 44, contextRva[i]);
        f.Append(t, sizeof t);
    }
    f.AddStream(kStreamThreadList, Location{4 + threadCount * 48, at});
    f.Align4();
    at = f.Append(&threadCount, 4);
    for (uint32_t i = 0; i < threadCount; ++i) {
        uint8_t d[16] = {};
        Put64(d + 0, stackStart[i]);
        Put32(d + 8, static_cast<uint32_t>(stackSize[i]));
        Put32(d + 12, stackRva[i]);
        f.Append(d, sizeof d);
    }
    f.AddStream(kStreamMemoryList, Location{4 + threadCount * 16, at});
    return Location{kContextSize, contextRva[0]};
}

void WriteExceptionStream(MinidumpFile& f, const Fault& fault, Location context) {
    uint8_t ex[168] = {};
    Put32(ex + 0, static_cast<uint32_t>(fault.tid));
    Put32(ex + 8, static_cast<uint32_t>(fault.sig));
    Put32(ex + 12, fault.info != nullptr ? static_cast<uint32_t>(fault.info->si_code) : 0);
    Put64(ex + 24, fault.info != nullptr ? reinterpret_cast<uint64_t>(fault.info->si_addr) : 0);
    Put32(ex + 160, context.size);
    Put32(ex + 164, context.rva);
    f.Stream(kStreamException, ex, sizeof ex);
}

void WriteModuleStream(MinidumpFile& f, size_t mapsSize, CaptureSpace& space) {
    // A copy of the process maps the same files: reading its own memory reads theirs.
    const uint32_t count = CollectModules(space.maps, mapsSize, MemorySource{SysGetpid(), -1}, space.modules, kMaxModules);
    // The names and code-view records first; the records point at them.
    uint32_t nameRva[kMaxModules], cvRva[kMaxModules], cvSize[kMaxModules];
    for (uint32_t i = 0; i < count; ++i) {
        const Module& m = space.modules[i];
        nameRva[i] = f.AppendString(m.path, m.pathLength);
        cvRva[i] = cvSize[i] = 0;
        if (m.buildIdSize > 0) {
            f.Align4();
            cvRva[i] = f.Append(&kElfBuildIdSignature, 4);
            f.Append(m.buildId, m.buildIdSize);
            cvSize[i] = 4 + m.buildIdSize;
        }
    }
    f.Align4();
    const uint32_t at = f.Append(&count, 4);
    for (uint32_t i = 0; i < count; ++i) {
        const Module& m = space.modules[i];
        uint8_t rec[108] = {};
        Put64(rec + 0, m.base);
        Put32(rec + 8, static_cast<uint32_t>(m.end - m.base));
        Put32(rec + 20, nameRva[i]);
        Put32(rec + 24, 0xFEEF04BD);  // an empty version block, signed
        Put32(rec + 76, cvSize[i]);
        Put32(rec + 80, cvRva[i]);
        f.Append(rec, sizeof rec);
    }
    f.AddStream(kStreamModuleList, Location{4 + count * 108, at});
}

}  // namespace

bool WriteDump(int fd, uint32_t pid, const Fault& fault, uint32_t otherThreads, int memFd, CaptureSpace& space) {
    MinidumpFile f(fd, space.copy, space.copySize);
    f.Exclude(space.environment);
    // The maps first: modules and stack bounds come from it.
    const size_t mapsSize = WriteProcStreams(f, pid, space);
    WriteSystemStreams(f, pid, space);
    ContextFromSignal(space.threads[0].context, fault.uc);
    space.threads[0].tid = static_cast<uint32_t>(fault.tid);
    space.threads[0].sp = StackPointer(fault.uc);
    const Location context = WriteThreadStreams(f, 1 + otherThreads, mapsSize, memFd, space);
    WriteExceptionStream(f, fault, context);
    WriteModuleStream(f, mapsSize, space);
    struct timespec now {};
    Sys(SYS_clock_gettime, CLOCK_REALTIME, reinterpret_cast<long>(&now));
    f.WriteHeader(static_cast<uint32_t>(now.tv_sec));
    return f.Ok();
}

}  // namespace platform::dumping
