// The application object: command line, single-instance guard, start-up order, hand-over and
// release of the process-wide singletons.
#pragma once

#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/MutexHandler.h"
#include "updater/HandOver.h"
#include "updater/UpdaterMgrEx.h"

namespace OrvoApp {

class COrvoUpdaterServiceApp : public UpDater::IHandOver {
public:
    COrvoUpdaterServiceApp();
    ~COrvoUpdaterServiceApp() override;

    // Runs the whole start-up; always false, so that the process ends through ExitInstance.
    bool InitInstance(const std::wstring& szCommandLine);
    // The same with the arguments as the system split them (each target parameter kept whole).
    bool InitInstance(const std::vector<std::wstring>& args);
    // Hand-over, release of the singletons; returns the process exit code.
    int ExitInstance();
    // Starts the target at most once per process (when the run allows it) and notifies the
    // caller's window on every call.
    void ExecuteApp() override;

    // The message box title: the executable's base name.
    const std::wstring& Title() const { return m_strTitle; }
    int m_bExecuted = 0;

private:
    // Tells the crash path what it must hand over (called again as the target becomes known).
    void PublishCrashHandOver();
    // The start-up after the command line was read.
    bool InitInstanceWith(ArgsResult result);
    CMutexHandler m_MutexHandler;
    std::wstring m_strTitle;
    int m_nExitCode = 0;
};

// Releases the manager (cancel, stop, clear) and forgets it. False when its worker had to be
// given up while still running: the manager is then kept alive (never deleted under it), and
// the process must end without running its static destructors.
bool ReleaseSingletons();

}  // namespace OrvoApp
