#include "updater/Mgr.h"

#include <chrono>
#include <mutex>
#include <set>
#include <span>
#include <thread>

#include "http/HttpFileFetch.h"
#include "manifest/FolderPaths.h"
#include "platform/debug.h"
#include "platform/i18n.h"
#include "platform/fs.h"
#include "platform/inet.h"
#include "platform/strings.h"
#include "updater/FileServices.h"

namespace UpDater {

using platform::FormatW;

CMgr::CMgrProcessWorker::CMgrProcessWorker() : CEventWorker(false) {}

int CMgr::CMgrProcessWorker::Execute() {
    if (m_pMgr != nullptr) m_pMgr->ProcessUpdate();
    return 1;
}

CMgr::CMgr() = default;

CMgr::~CMgr() {
    m_pInterface.reset();
    Clear();
}

bool CMgr::StartUp(CMgrInterface* pInterface) {
    std::unique_ptr<CMgrInterface> owned(pInterface);
    if (m_strInitXmlUrl.empty()) return false;
    m_pInterface = std::move(owned);
    if (m_pInterface) m_pInterface->SetInstallProgressMax(platform::Translate(L"Preparing the list of updates.").c_str(), 4);

    m_ProcessWorker.m_pMgr = this;
    AddWorker(&m_EventGroup, &m_ProcessWorker);
    m_EventChecker.m_bPumpMessages = 1;
    m_EventChecker.Start(&m_EventGroup, 1);

    if (!CreateFolderTree(m_strTempFolder)) {
        platform::OutputDebug(
            FormatW(L"[OVUSVC] [Error %d line] CVersionBuilder::StartUp()  [%s]Create Fodler Failed \n", 179, m_strTempFolder));
        return false;
    }
    if (!m_ProcessWorker.m_hEvent) return false;
    m_ProcessWorker.SetEvent();
    return true;
}

void CMgr::ProcessUpdate() {
    auto report = [this](const std::wstring& szText, int nPos) {
        if (m_pInterface) m_pInterface->SetInstallProgress(szText.c_str(), nPos);
    };
    auto fail = [this](const wchar_t* szText) {
        if (m_pInterface) m_pInterface->UpdateError(szText);
    };
    RemoveStagingLeftovers();
    report(platform::Translate(L"Downloading..."), 1);
    if (!DownloadUpdateFile()) return fail(L"[OVUSVC][Error] DownloadUpdateFile");
    UnregisterComponents();
    report(platform::Translate(L"Installing and registering..."), 2);
    if (!UnzipDownloadFile()) return fail(L"[OVUSVC][Error] UnzipDownloadFile");
    report(platform::Translate(L"Setting up the system..."), 3);
    if (!ExProcess()) return fail(L"[OVUSVC][Error] ExProcess");
    report(platform::Translate(L"Update complete"), 4);
    FinishUpdate();
}

void CMgr::RemoveStagingLeftovers() {
    // A killed run leaves its half-written downloads and unpacked files in the working folder
    // under their random names; this run holds the manifest's lock, so none is still written.
    // Only names of this plan are matched: another suite's run may share the folder.
    std::set<std::wstring> names;
    for (const auto& item : m_UpdateList) {
        names.insert(item.OriFileName);
        names.insert(GetFileName(item.DownloadPath));
    }
    platform::RemoveTempSiblings(m_strTempFolder, names);
    RemoveStaleParts();
}

void CMgr::RemoveStaleParts() {
    // A part of a package this plan does not ask for stays resumable for a while (another
    // suite's run may share the folder); one left alone for a day is abandoned.
    std::set<std::wstring> downloads;
    for (const auto& item : m_UpdateList) downloads.insert(GetFileName(item.DownloadPath));
    Kaver::CHttpFileFetch::RemoveStaleParts(m_strTempFolder, downloads, std::chrono::system_clock::now() - kStalePartAge);
}

void CMgr::Cancel() {
    m_bCancel = 1;
    platform::inet::CancelTransfers();  // a running download ends now, not when it is done
    // The running stage still reads the lists and paths (the marker's path among them): they
    // are emptied only once it has ended.
    m_EventChecker.Stop();
    // A worker given up on goes on reading them.
    if (!m_EventChecker.HasAbandonedThreads()) Clear();
}

void CMgr::ReportStatesMax(const std::wstring& szText, int nMax) {
    if (m_pInterface) m_pInterface->SetStatesProgressMax(szText.c_str(), nMax);
}

void CMgr::ReportStates(const std::wstring& szText, int nPos) {
    if (m_pInterface) m_pInterface->SetStatesProgress(szText.c_str(), nPos);
}

void CMgr::FinishUpdate() {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (m_bFileInUse == 0) {
        // The installed manifest copy is only ever replaced whole: written beside it, flushed and
        // renamed over it. It holds the bytes that were verified and planned from, never what
        // the working file may hold by now. A failure keeps the old copy.
        const std::string* xml = DownloadedXml();
        const uint32_t err = xml == nullptr ? platform::ERROR_FILE_NOT_FOUND_
                                            : platform::WriteFileAtomically(m_strInstallXmlPath, std::as_bytes(std::span(*xml)));
        if (err != 0) {
            platform::OutputDebug(FormatW(L"[OVUSVC] [Error %d line] CMgr::FinishUpdate()  [%s] -> [%s] Manifest Replace Failed [%u]\n",
                                          497, m_strTempXmlPath, m_strInstallXmlPath, err));
        } else {
            platform::DeleteFileAt(PendingUpdateMarker());
            RecordAppliedRelease();
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    platform::DeleteFileAt(m_strTempXmlPath);
    if (m_pInterface) m_pInterface->UpdateComplete();
    Clear();
}

}  // namespace UpDater
