#include "updater/Mgr.h"

#include <chrono>
#include <mutex>
#include <thread>

#include "manifest/FolderPaths.h"
#include "platform/debug.h"
#include "platform/fs.h"
#include "platform/inet.h"
#include "platform/strings.h"

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
    if (m_pInterface) m_pInterface->SetInstallProgressMax(L"업데이트 할 목록을 준비중입니다.", 4);

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
    auto report = [this](const wchar_t* szText, int nPos) {
        if (m_pInterface) m_pInterface->SetInstallProgress(szText, nPos);
    };
    auto fail = [this](const wchar_t* szText) {
        if (m_pInterface) m_pInterface->UpdateError(szText);
    };
    report(L"다운로드 작업 중...", 1);
    if (!DownloadUpdateFile()) return fail(L"[OVUSVC][Error] DownloadUpdateFile");
    UnregisterComponents();
    report(L"설치 및 시스템 등록 작업 중...", 2);
    if (!UnzipDownloadFile()) return fail(L"[OVUSVC][Error] UnzipDownloadFile");
    report(L"시스템 초기화 작업 중...", 3);
    if (!ExProcess()) return fail(L"[OVUSVC][Error] ExProcess");
    report(L"업데이트 완료", 4);
    FinishUpdate();
}

void CMgr::Cancel() {
    m_bCancel = 1;
    // A package download in progress would otherwise hold the lists until it ends.
    platform::inet::CancelTransfers();
    Clear();  // waits for the running stage loop to let go of the lists
    m_EventChecker.Stop();
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
        // The installed manifest copy is only ever replaced whole: the new one is copied beside
        // it, flushed and renamed over it. A failure keeps the old copy.
        if (uint32_t err = platform::CopyFileReplacing(m_strTempXmlPath, m_strInstallXmlPath)) {
            platform::OutputDebug(FormatW(L"[OVUSVC] [Error %d line] CMgr::FinishUpdate()  [%s] -> [%s] Manifest Replace Failed [%u]\n",
                                          497, m_strTempXmlPath, m_strInstallXmlPath, err));
        } else {
            platform::DeleteFileAt(PendingUpdateMarker());
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    platform::DeleteFileAt(m_strTempXmlPath);
    if (m_pInterface) m_pInterface->UpdateComplete();
    Clear();
}

}  // namespace UpDater
