#include "crash/ExceptionHandler.h"

#include <cstdlib>
#include <exception>

#include "http/HttpException.h"
#include "http/HttpServerClient.h"
#include "manifest/FolderPaths.h"
#include "manifest/RegValue.h"
#include "platform/debug.h"
#include "platform/dump.h"
#include "platform/folders.h"
#include "platform/fs.h"
#include "platform/registry.h"
#include "platform/strings.h"
#include "updater/UpdaterMgrEx.h"

#ifndef ORVO_DEBUG_SERVER_URL
#define ORVO_DEBUG_SERVER_URL "https://debug.invalid/debug"
#endif

namespace OrvoCrash {

namespace {

constexpr const wchar_t* kDumpStem = L"OrvoUpdaterDump";
constexpr const wchar_t* kUploadPolicy = L"Software\\TALVEN\\OrvoUpdaterService\\DisableCrashUpload";

void (*g_pfnExitStep)() = nullptr;

// "%d%d%d%d" of the file version's four parts; "0000" without a version block.
std::wstring VersionText(const std::wstring& szModule) {
    platform::FixedFileInfo info{};
    unsigned ms = 0, ls = 0;
    if (!szModule.empty() && UpDater::GetFileVersion(szModule, info) == 0) {
        auto word = [&](size_t at) {
            return static_cast<unsigned>(info[at]) | static_cast<unsigned>(info[at + 1]) << 8 |
                   static_cast<unsigned>(info[at + 2]) << 16 | static_cast<unsigned>(info[at + 3]) << 24;
        };
        ms = word(8);
        ls = word(12);
    }
    return platform::FormatW(L"%d%d%d%d", static_cast<int>(ms >> 16), static_cast<int>(ms & 0xFFFF),
                             static_cast<int>(ls >> 16), static_cast<int>(ls & 0xFFFF));
}

// Runs in the faulting process where the platform's handler does (Windows): upload, exit step.
void ContinueAfterDump(const std::wstring& szDumpPath) {
    CExceptionHandler* handler = CExceptionHandler::PeekInstance();
    if (!szDumpPath.empty()) {
        platform::OutputDebug(platform::FormatW(L"Save Dump File at %s\n", szDumpPath));
        if (handler != nullptr && handler->m_pWorker) handler->m_pWorker->SendDump(szDumpPath);
    }
    if (g_pfnExitStep != nullptr) g_pfnExitStep();
    std::exit(0);
}

}  // namespace

CExceptionWorker::CExceptionWorker(std::wstring strDbgHelpDir, std::wstring strVersion, std::wstring strDumpDir)
    : m_strDbgHelpDir(std::move(strDbgHelpDir)),
      m_strVersion(std::move(strVersion)),
      m_strDumpName(kDumpStem),
      m_strDumpDir(std::move(strDumpDir)) {}

void CExceptionWorker::SendDump(const std::wstring&) {}

std::wstring CExceptionWorker::DumpFilePath() const {
    return platform::FormatW(L"%s\\%s_%s.dmp", m_strDumpDir, m_strDumpName, m_strVersion);
}

void CExceptionWorkerEx::SendDump(const std::wstring& szDumpPath) { UploadDump(szDumpPath); }

std::wstring DebugServerBase() {
    if (const char* env = std::getenv("ORVO_DEBUG_SERVER"); env != nullptr && *env != 0) return platform::FromUtf8(env);
    return platform::FromUtf8(ORVO_DEBUG_SERVER_URL);
}

bool UploadDisabledByPolicy() {
    UpDater::CRegDwordValue policy(kUploadPolicy, 0, false, platform::RootLocalMachine);
    return policy.IsRead() && static_cast<uint32_t>(policy) != 0;
}

UploadResult UploadDump(const std::wstring& szDumpPath) {
    if (UploadDisabledByPolicy()) {
        platform::OutputDebug(platform::FormatW(L"[VUSVC] crash upload turned off by the machine policy; the dump stays at [%s]\n", szDumpPath));
        return UploadResult::Disabled;
    }
    const std::wstring base = DebugServerBase();
    int result = 0;
    try {
        result = Kaver::CHttpServerClient::PostToUrl(base, L"/upload.php", {{L"userfile", szDumpPath, 1}});
    } catch (const Kaver::httpclientexceptionW& e) {
        platform::OutputDebug(platform::FormatW(L"[VUSVC] crash upload to [%s/upload.php] failed: %s; the dump stays at [%s]\n",
                                                base, std::wstring(e.GetErrorMsg()), szDumpPath));
        return UploadResult::Failed;
    } catch (const std::exception&) {
        platform::OutputDebug(platform::FormatW(L"[VUSVC] crash upload to [%s/upload.php] failed; the dump stays at [%s]\n", base, szDumpPath));
        return UploadResult::Failed;
    }
    if (result != Kaver::CHttpServerClient::kPostAccepted) {
        // Only an accepted upload may cost the only copy of the dump.
        platform::OutputDebug(platform::FormatW(L"[VUSVC] crash upload refused by [%s/upload.php]; the dump stays at [%s]\n", base, szDumpPath));
        return UploadResult::Refused;
    }
    platform::DeleteFileAt(szDumpPath);
    platform::OutputDebug(platform::FormatW(L"[VUSVC] crash dump uploaded to [%s/upload.php] and deleted\n", base));
    return UploadResult::Accepted;
}

CExceptionHandler::CExceptionHandler() : m_pWorker(std::make_unique<CExceptionWorker>()) {}

CExceptionHandler::~CExceptionHandler() { m_pWorker.reset(); }

std::unique_ptr<CExceptionWorker> MakeWorkerForThisProgram() {
    const std::wstring module = platform::GetModuleFilePath().value_or(L"");
    const std::wstring system = platform::GetSpecialFolderPath(platform::CSIDL_SYSTEM, true).value_or(L"");
    return std::make_unique<CExceptionWorkerEx>(system, VersionText(module), UpDater::DumpFolderFor(UpDater::GetModuleFolder()));
}

void InstallExceptionHandler() {
    CExceptionHandler* handler = CExceptionHandler::GetInstance();
    handler->m_pWorker = MakeWorkerForThisProgram();
    platform::CrashHandlerSettings settings;
    settings.strDumpDir = handler->m_pWorker->m_strDumpDir;
    settings.strDumpPath = handler->m_pWorker->DumpFilePath();
    settings.strDbgHelpDir = handler->m_pWorker->m_strDbgHelpDir;
    settings.pfnContinue = ContinueAfterDump;
    handler->m_bInstalled = platform::InstallCrashHandler(settings);
    if (!handler->m_bInstalled) platform::OutputDebug(L"[VUSVC] the crash handler could not be installed\n");
    UpDater::CUpdaterMgrEx::GetInstance();
}

void RemoveExceptionHandler() {
    CExceptionHandler* handler = CExceptionHandler::PeekInstance();
    if (handler == nullptr) return;
    ForgetHandOver();
    if (handler->m_bInstalled) {
        platform::RemoveCrashHandler();
        handler->m_bInstalled = false;
    }
    CExceptionHandler::ReleaseInstance();
}

void PublishHandOver(const std::wstring& strTarget, const std::wstring& strParams,
                     const std::wstring& strParentWnd, const int* pbExecuteApp, const int* pbExecuted) {
    platform::SetCrashHandOver({strTarget, strParams, strParentWnd, pbExecuteApp, pbExecuted});
}

void ForgetHandOver() { platform::ClearCrashHandOver(); }

void SetCrashExitStep(void (*pfnExit)()) { g_pfnExitStep = pfnExit; }

}  // namespace OrvoCrash
