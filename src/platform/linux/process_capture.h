// The crashed process written as a minidump: its /proc streams, the system, every captured
// thread with its registers and stack, the fault and the modules. Runs in the signal handler (or
// in a copy of the process made there): it only uses what CaptureSpace reserved beforehand.
#pragma once

#include <signal.h>
#include <ucontext.h>

#include <cstddef>
#include <cstdint>

#include "platform/linux/minidump_file.h"
#include "platform/linux/process_maps.h"

namespace platform::dumping {

constexpr uint32_t kMaxThreads = 256;
constexpr uint32_t kMaxModules = 1024;

struct CapturedThread {
    uint32_t tid = 0;
    uint64_t sp = 0;
    uint8_t context[kContextSize];
};

// Everything a dump needs, reserved when the handler is installed: after a fault the heap may be
// broken.
struct CaptureSpace {
    char* maps = nullptr;
    size_t mapsSize = 0;
    char* proc = nullptr;  // status, cmdline, auxv
    size_t procSize = 0;
    Module* modules = nullptr;          // kMaxModules of them
    CapturedThread* threads = nullptr;  // kMaxThreads; [0] is the faulting thread
    char* copy = nullptr;               // memory on its way to the file
    size_t copySize = 0;
    uint16_t systemText[256];  // uname, as the dump's system description
    uint32_t systemTextLength = 0;  // characters
    uint32_t osMajor = 0, osMinor = 0, osBuild = 0;
    uint8_t processors = 1;
    // The environment strings the kernel gave the process: secrets (a proxy password) live there,
    // at the top of the main thread's stack. The dump never holds them.
    Range environment;
};

struct Fault {
    int sig = 0;
    const siginfo_t* info = nullptr;
    const ucontext_t* uc = nullptr;
    long tid = 0;  // the faulting thread
};

// Writes the dump of process pid into fd: the faulting thread from the signal's context and its
// stack from this process's memory, then threads[1..otherThreads] (stopped, registers already
// taken) with their stacks read through memFd. False when the file could not be written.
bool WriteDump(int fd, uint32_t pid, const Fault& fault, uint32_t otherThreads, int memFd, CaptureSpace& space);

// Writes the dump with every thread that can be stopped: a copy of the process stops the others
// with ptrace and writes it. False when that could not be done (ptrace refused, the copy failed).
bool WriteDumpWithAllThreads(int fd, const Fault& fault, CaptureSpace& space);

}  // namespace platform::dumping
