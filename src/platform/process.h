// Processes: the named single-instance mutex, launching a program, the command line.
// Linux: the mutex is an exclusive lock on a file named by a hash of the mutex name, held for
// the process's life and never inherited by children; "already exists" (183) means another
// process of the user holds it. The lock folder is $XDG_RUNTIME_DIR/orvo, else
// $TMPDIR/orvo-<uid> (TMPDIR defaults to /tmp), else orvo-locks in the user's cache; a folder that
// is a link, not the user's or open to other users is refused with a line and the next one
// tried; the lock file is never opened through a link. No usable folder or a lock file that is
// not the user's: no handle, access denied (5). Launching
// uses posix_spawn with the parameters split by the Windows quoting rules, never a shell.
// Windows: CreateMutexW with the name as given (a '\' in it fails with 3), ShellExecuteW (the
// program parses its own parameters) and IERefreshElevationPolicy from ieframe.dll.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct MutexCreateResult {
    intptr_t hMutex;     // 0 when the mutex could not be created
    uint32_t nLastError; // 0, 183 (already exists) or 5 (access denied) with a handle
};
MutexCreateResult CreateNamedMutex(const std::wstring& szName);
void CloseMutexHandle(intptr_t hMutex);

inline constexpr int SW_SHOWNORMAL_ = 1;
struct LaunchResult {
    intptr_t nInstance;  // > 32 on success, as ShellExecute
    uint32_t nLastError;
    int64_t nSystemError = 0;  // the system's own number (Linux: posix_spawn's errno), for debug lines
};
// Opens szFile with the parameter string (split by the Windows command-line rules).
LaunchResult ShellOpen(const std::wstring& szFile, const std::wstring& szParams, int nShowCmd);

// The running process's id.
uint32_t CurrentProcessId();

// Splits a parameter string as the Windows C runtime does: white space separates, double
// quotes group, backslashes escape quotes only when they precede one.
std::vector<std::wstring> SplitCommandLineArgs(const std::wstring& szParams);
// The parameter string that SplitCommandLineArgs splits back into exactly these arguments.
std::wstring JoinCommandLineArgs(const std::vector<std::wstring>& args);

// The command line text that follows the program name, as the C runtime gives it to WinMain:
// the program name ends at the first blank outside double quotes (no escapes) and the blanks after
// it are skipped. The rest is returned untouched.
std::wstring ArgumentsAfterProgramName(const std::wstring& szCommandLine);

#ifdef _WIN32
// The process's own wide command line (GetCommandLineW), whole.
std::wstring ProcessCommandLine();
// For a program of the GUI subsystem started from a console: attach to the parent's console, so
// that Ctrl-C there reaches the process, and write standard output and error there unless the
// starter redirected them. Under Wine, started from a Unix shell (no Windows console to attach
// to), a windowless console of its own takes the shell's Ctrl-C. True when standard error leads
// somewhere (a console, or a file or pipe given by the starter).
bool AttachParentConsole();
#endif

// Reloads the browser elevation policy before an elevated process starts another; an HRESULT.
// Linux has no such policy: the library is reported missing (0x8007007E).
int32_t RefreshElevationPolicy();

}  // namespace platform
