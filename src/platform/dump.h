// Crash dumps: a handler for the fatal faults of the process that writes a minidump (the MDMP
// format standard debuggers read) into a folder, then hands the rest of the crash to the updater.
// Linux: handlers for SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT and SIGSYS run on an alternate
// stack of the faulting thread; everything they need is allocated at install time and they make
// raw system calls only, reading other mappings through calls that fail instead of faulting (a
// library truncated under the process). The dump holds every thread with its registers and
// stack (a copy of the process stops the others with ptrace; where ptrace is refused, the
// faulting thread alone), the modules with their build ids, the fault and the /proc streams
// (maps, status, cmdline, auxv); never the environment's bytes. The upload and the hand-over
// never run in the handler: it re-executes the program with the kCrashReportSwitch arguments
// (execve), and a crash before InstallCrashHandler, after RemoveCrashHandler, or in the
// re-executed process gets the system's default action.
// Windows: SetUnhandledExceptionFilter; DBGHELP.DLL is loaded at crash time (from the given
// folder first, then by name) and MiniDumpWriteDump writes the dump; the continuation then runs
// in the faulting process itself and the process ends with exit code 0.
#pragma once

#include <string>

namespace platform {

// What the continuation learns about the dump: its path when one was written, else empty.
using CrashContinuation = void (*)(const std::wstring& szDumpPath);

struct CrashHandlerSettings {
    std::wstring strDumpDir;     // re-created (with its parents) when missing at crash time
    std::wstring strDumpPath;    // the dump file, replaced by each crash
    std::wstring strDbgHelpDir;  // Windows: where the dump library is loaded from first
    // Linux: the program re-executed after the dump (empty: the running executable).
    std::wstring strReportProgram;
    // Windows: run in the faulting process after the dump; Linux ignores it.
    CrashContinuation pfnContinue = nullptr;
};

// What the re-executed report process needs to hand over as the updater would have. The two
// flags are read at crash time: the target is due when *pbExecuteApp is set and *pbExecuted is
// not. They must stay valid until ClearCrashHandOver.
struct CrashHandOver {
    std::wstring strTarget;     // full path of the target, empty for none
    std::wstring strParams;     // the target's parameter text
    std::wstring strParentWnd;  // the caller window as given on the command line
    const int* pbExecuteApp = nullptr;
    const int* pbExecuted = nullptr;
};

// The first argument of the report process, followed by: dump path (empty when no dump was
// written), "1"/"0" target due, caller window, target, parameters.
inline constexpr const char* kCrashReportSwitch = "--crash-report";

// Installs the handler (replacing one installed before). False when it cannot be installed. A
// dump path the system cannot take (too long) does not stop it: a crash then writes no dump and
// is still handed over.
bool InstallCrashHandler(const CrashHandlerSettings& settings);
// Restores what was installed before; the handler's memory stays reserved.
void RemoveCrashHandler();
bool CrashHandlerInstalled();
// Sets or clears what the report process hands over. Safe while other threads may crash.
void SetCrashHandOver(const CrashHandOver& handOver);
void ClearCrashHandOver();

// The re-executed program's environment carries ORVO_CRASH_REPORTED=1: a process that has it
// writes a dump but starts nothing after a crash, so crashes never loop. The report process
// drops it before it starts the target.
void ForgetCrashReportMark();

// Called by every thread the program starts, at its start: gives it the alternate stack the
// handler runs on (Linux; nothing on Windows). Released when the thread ends.
void PrepareThreadForCrashes();

}  // namespace platform

namespace platform {

// True for a regular file (not a link) whose content starts like a dump ("MDMP").
bool IsCrashDumpFile(const std::wstring& szPath);

}  // namespace platform
