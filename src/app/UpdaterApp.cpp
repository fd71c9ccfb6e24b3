#include "app/UpdaterApp.h"

#include <cstdio>
#include <cstdlib>

#include "app/CommandLine.h"
#include "crash/ExceptionHandler.h"
#include "platform/debug.h"
#include "platform/errors.h"
#include "platform/failure_cause.h"
#include "platform/folders.h"
#include "platform/fs.h"
#include "platform/i18n.h"
#include "platform/msgbox.h"
#include "platform/process.h"
#include "platform/strings.h"
#include "platform/terminal.h"
#include "platform/window.h"
#include "ui/FrontEnd.h"

namespace OrvoApp {

using UpDater::CUpdaterMgrEx;

namespace {

std::wstring ExecutableBaseName() {
    auto path = platform::GetModuleFilePath();
    if (!path) return L"OrvoUpdaterService";
    std::wstring name = path->substr(path->find_last_of(L"\\/") + 1);
    const size_t dot = name.rfind(L'.');
    return dot == std::wstring::npos || dot == 0 ? name : name.substr(0, dot);
}

}  // namespace

COrvoUpdaterServiceApp::COrvoUpdaterServiceApp() : m_strTitle(ExecutableBaseName()) {}

COrvoUpdaterServiceApp::~COrvoUpdaterServiceApp() = default;

bool COrvoUpdaterServiceApp::InitInstance(const std::wstring& szCommandLine) {
    OrvoCrash::InstallExceptionHandler();
    return InitInstanceWith(ParseUpdaterArgs(szCommandLine, *CUpdaterMgrEx::GetInstance(), m_strTitle));
}

bool COrvoUpdaterServiceApp::InitInstance(const std::vector<std::wstring>& args) {
    OrvoCrash::InstallExceptionHandler();
    return InitInstanceWith(ParseUpdaterArgs(args, *CUpdaterMgrEx::GetInstance(), m_strTitle));
}

bool COrvoUpdaterServiceApp::InitInstanceWith(ArgsResult result) {
    CUpdaterMgrEx& mgr = *CUpdaterMgrEx::GetInstance();

    switch (result) {
        case ArgsResult::Run: break;
        case ArgsResult::SwapMode:
        case ArgsResult::Help:
        case ArgsResult::Version: return false;
        case ArgsResult::Empty:
        case ArgsResult::BadOption: m_nExitCode = kExitUsage; return false;
    }
    PublishCrashHandOver();

    // Without a home, the working folder and the user's registry would land at the root.
    if (auto problem = platform::PerUserFolderProblem()) {
        platform::OutputDebug(L"[VUSVC] " + *problem + L"\n");
        platform::ShowMessageBox(*problem, m_strTitle);
        m_nExitCode = 1;
        return false;
    }

    // The manifest address itself names the guard: a second updater for it ends silently.
    const int guard = m_MutexHandler.Create(mgr.m_strXmlUrl);
    if (guard == CMutexHandler::AlreadyExists) {
        platform::OutputDebug(platform::FormatW(L"[VUSVC] another updater runs for [%s] (mutex result %d)\n", mgr.m_strXmlUrl, guard));
        return false;
    }
    if (guard != CMutexHandler::Created) {
        // Without the guard two updaters could install at once, and a guard another user holds
        // would silently stop every update: an error, not a quiet end.
        platform::ShowMessageBox(
            platform::FormatW(L"The single-instance lock for [%s] cannot be taken (result %d)", mgr.m_strXmlUrl, guard), m_strTitle);
        m_nExitCode = 1;
        return false;
    }

    if (mgr.m_bInitialized == 0) {
        platform::ClearFailureCause();
        mgr.m_bInitialized = mgr.Init(mgr.m_strXmlUrl) ? 1 : 0;
        if (mgr.m_bInitialized == 0) {
            platform::ShowMessageBox(
                platform::WithFailureCause(platform::Translate(L"[Error] OrvoUpdaterService could not analyse the update's version.")),
                m_strTitle);
            m_nExitCode = kExitFailed;
            return false;
        }
    }

    // The target's path rests on the install folder, which the end of a run clears with the
    // rest of the builder: settle it now so that a completed update can still start the target.
    mgr.GetExecutePath();
    PublishCrashHandOver();

    if (mgr.CompareXml()) {
        mgr.RemoveStaleParts();  // a run with nothing to do holds the lock too
        mgr.m_bExecuteApp = 1;
        if (mgr.GetParentWnd() == 0) {
            ExecuteApp();
            return false;
        }
        // With a caller window the front end still runs, to hand over and notify it.
    }

    mgr.SkinDownload();
    if (mgr.m_strSkinPath.empty()) {
        // The terminal front end draws its own progress: a missing skin is only worth a warning.
        platform::OutputDebug(L"[OVUSVC] Skin UI 파일을 다운로드 하지 못하였습니다.\n");
        platform::WriteStderr(platform::ToUtf8(platform::Translate(L"Could not download the skin UI file.") + L"\n"));
    }

    switch (OrvoUi::RunFrontEnd(mgr, *this, m_strTitle)) {
        case OrvoUi::ConsoleOutcome::NothingToDo:
        case OrvoUi::ConsoleOutcome::Complete: break;
        case OrvoUi::ConsoleOutcome::Failed: m_nExitCode = kExitFailed; break;
        case OrvoUi::ConsoleOutcome::Cancelled: m_nExitCode = kExitCancelled; break;
    }
    return false;
}

void COrvoUpdaterServiceApp::ExecuteApp() {
    CUpdaterMgrEx* mgr = CUpdaterMgrEx::PeekInstance();
    if (mgr == nullptr) return;
    if (m_bExecuted == 0 && mgr->m_bExecuteApp != 0) {
        // Set first: a failed launch is never retried by a later call.
        m_bExecuted = 1;
        const std::wstring path = mgr->GetExecutePath();
        if (!path.empty() && platform::PathExists(path)) {
            platform::RefreshElevationPolicy();
            platform::OutputDebug(platform::FormatW(L"[VUSVC] [%s]Execute [%s] Param!!!!!\n", path, mgr->m_strExecuteParam));
            const auto launched = platform::ShellOpen(path, mgr->m_strExecuteParam, platform::SW_SHOWNORMAL_);
            if (launched.nInstance <= 32) {
                platform::OutputDebug(platform::FormatW(L"[VUSVC] ShellExecuteEx [%d]", static_cast<int>(launched.nLastError)));
                platform::OutputDebug(platform::FormatW(L"[VUSVC] [%s] not started: %s\n", path,
                                                        platform::DescribeError({launched.nLastError, launched.nSystemError})));
                platform::ShowMessageBox(
                    platform::Translate(L"[Error] The program could not be started.") + L"\n" +
                        platform::FormatW(platform::Translate(L"%s: the system refused to start it: %s.").c_str(), path,
                                          platform::ErrorSentence(launched.nLastError)),
                    m_strTitle);
                m_nExitCode = kExitFailed;
            }
        } else {
            platform::OutputDebug(platform::FormatW(L"[VUSVC] target not found, nothing started [%s]\n", path));
        }
    }
    const platform::WindowHandle parent = mgr->GetParentWnd();
    if (parent != 0 && platform::IsWindowHandle(parent)) {
        platform::OutputDebug(L"[VUSVC] App Close ParentWnd PostMsg Updater Close!!!!!\n");
        platform::PostWindowMessage(parent, platform::WM_UPDATER_CLOSED, 0, 0);
    }
}

namespace {
// A manager whose worker was given up on; reachable until the process ends.
CUpdaterMgrEx* s_pAbandonedMgr = nullptr;
COrvoUpdaterServiceApp* s_pCrashedApp = nullptr;
}  // namespace

void COrvoUpdaterServiceApp::PublishCrashHandOver() {
    // Where the crash handler runs in the faulting process, it ends through the exit step.
    s_pCrashedApp = this;
    OrvoCrash::SetCrashExitStep([] { s_pCrashedApp->ExitInstance(); });
    CUpdaterMgrEx& mgr = *CUpdaterMgrEx::GetInstance();
    // The path is settled only once the install folder is known; before that, no target.
    OrvoCrash::PublishHandOver(mgr.m_strExecutePath, mgr.m_strExecuteParam, mgr.m_strParentWnd, &mgr.m_bExecuteApp, &m_bExecuted);
}

bool ReleaseSingletons() {
    OrvoCrash::ForgetHandOver();  // its flags live in the manager
    CUpdaterMgrEx* mgr = CUpdaterMgrEx::PeekInstance();
    if (mgr != nullptr) {
        mgr->Cancel();
        if (mgr->m_EventChecker.HasAbandonedThreads()) {
            platform::OutputDebug(L"[VUSVC] the update worker did not stop in time: the process ends around it\n");
            s_pAbandonedMgr = CUpdaterMgrEx::DetachInstance();
            return false;
        }
        CUpdaterMgrEx::ReleaseInstance();
    }
    OrvoCrash::RemoveExceptionHandler();
    return true;
}

int COrvoUpdaterServiceApp::ExitInstance() {
    ExecuteApp();
    if (!ReleaseSingletons()) {
        // A thread still runs in the manager: static destructors must not run under it.
        std::fflush(nullptr);
        std::_Exit(m_nExitCode);
    }
    return m_nExitCode;
}

}  // namespace OrvoApp
