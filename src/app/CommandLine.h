// The updater's command line:
//   <manifest address> <caller window or NULL> <target file> [parameters...]
//   <manifest address>||<local manifest path>      (manifest-swap mode)
#pragma once

#include <string>
#include <vector>

#include "updater/UpdaterMgrEx.h"

namespace OrvoApp {

// Splits at every character of szSeparators; empty pieces are dropped.
std::vector<std::wstring> SplitPieces(const std::wstring& szText, const std::wstring& szSeparators);

enum class ArgsResult {
    Run,        // settings stored in the manager; go on with the start-up
    SwapMode,   // the manifest-swap mode ran; end without a window
    Empty,      // nothing to run with (the message box and the usage line were shown)
    Help,       // --help: the help was written
    Version,    // --version: the version was written
    BadOption,  // an option the updater does not know (the usage line was shown)
};

// Exit codes of the process.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitCancelled = 130;

// Reads the raw command line into the manager's settings. szTitle is the message box title and
// the program name in the usage texts. A first word starting with '-' is an option: a manifest
// address never does.
ArgsResult ParseUpdaterArgs(const std::wstring& szCommandLine, UpDater::CUpdaterMgrEx& mgr, const std::wstring& szTitle);
// The same for arguments the system has already split (Linux): the line they make is read as
// above, but the target's parameters are the arguments after the third, each kept whole.
ArgsResult ParseUpdaterArgs(const std::vector<std::wstring>& args, UpDater::CUpdaterMgrEx& mgr, const std::wstring& szTitle);

// "Usage: ..." and a pointer to --help, two lines.
std::wstring UsageText(const std::wstring& szProgram);
// The whole --help text.
std::wstring HelpText(const std::wstring& szProgram);
// "<program> <a.b.c.d>" from the executable's version block ("unknown" without one).
std::wstring VersionText(const std::wstring& szProgram);

// Moves the refreshed manifest copy (kept by an earlier run in the working folder) over the
// local manifest path.
void RunManifestSwap(const std::wstring& szManifestUrl, const std::wstring& szLocalPath);

}  // namespace OrvoApp
