// The crash handler: installed first thing at start-up, it writes a dump of any fatal fault of
// the updater (beside its executable, or in the user's state folder for a shared installation), has the dump uploaded to the vendor's debug server and the
// hand-over run, so that a crash never leaves the user without the application.
#pragma once

#include <memory>
#include <string>

#include "updater/SingletonEx.h"

namespace OrvoCrash {

// What to do with a crash: where the dump goes and what becomes of it. The base keeps it.
class CExceptionWorker {
public:
    CExceptionWorker() = default;
    CExceptionWorker(std::wstring strDbgHelpDir, std::wstring strVersion, std::wstring strDumpDir);
    virtual ~CExceptionWorker() = default;
    virtual void SendDump(const std::wstring& szDumpPath);

    // "<dump folder>\<stem>_<version>.dmp"
    std::wstring DumpFilePath() const;

    std::wstring m_strDbgHelpDir;
    std::wstring m_strVersion;
    std::wstring m_strDumpName;
    std::wstring m_strDumpDir;
};

// Uploads the dump and deletes it once the server accepted it.
class CExceptionWorkerEx : public CExceptionWorker {
public:
    using CExceptionWorker::CExceptionWorker;
    void SendDump(const std::wstring& szDumpPath) override;
};

// Outcome of one upload attempt, for the report's own log.
enum class UploadResult { Accepted, Refused, Failed, Disabled };
UploadResult UploadDump(const std::wstring& szDumpPath);

class CExceptionHandler : public UpDater::CSingletonEx<CExceptionHandler> {
public:
    CExceptionHandler();
    ~CExceptionHandler() override;
    std::unique_ptr<CExceptionWorker> m_pWorker;
    bool m_bInstalled = false;  // the previous handling is restored at removal
};

// The worker this executable uses: dump in DumpFolderFor the executable's folder, version from
// its version block.
std::unique_ptr<CExceptionWorker> MakeWorkerForThisProgram();

// Start-up step 1: the handler and, with it, the update-manager singleton.
void InstallExceptionHandler();
// The exit step's removal: the previous handling restored, the handler deleted.
void RemoveExceptionHandler();

// What the crash path hands over: the target, its parameters and the caller window, and the two
// flags that say at crash time whether the target is due. Forget it before those flags go away.
void PublishHandOver(const std::wstring& strTarget, const std::wstring& strParams,
                     const std::wstring& strParentWnd, const int* pbExecuteApp, const int* pbExecuted);
void ForgetHandOver();

// Where the process continues after a dump on a platform whose handler runs in the faulting
// process (the exit step of the application).
void SetCrashExitStep(void (*pfnExit)());

// The debug server's base address: ORVO_DEBUG_SERVER from the environment, else the build's.
std::wstring DebugServerBase();
// The machine-wide switch that keeps dumps local.
bool UploadDisabledByPolicy();

}  // namespace OrvoCrash
