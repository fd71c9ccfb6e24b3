#include "ui/OrvoUpdaterServiceDlg.h"

#include <cstring>
#include <utility>

#include "platform/debug.h"
#include "platform/failure_cause.h"
#include "platform/i18n.h"
#include "platform/msgbox.h"
#include "platform/strings.h"
#include "platform/terminal.h"
#include "platform/window.h"
#include "ui/CloseUpdater.h"
#include "ui/FileInUseWarning.h"
#include "ui/InvokeRequest.h"
#include "ui/OrvoUpdaterInterface.h"
#include "ui/SkinLayoutReader.h"
#include "updater/FileServices.h"

namespace OrvoUi {

using platform::FormatW;
using platform::IDialogWindow;

namespace {

constexpr int kShapeWidth = 800;
constexpr int kShapeHeight = 600;
// A producer only waits for the delivery when this many calls are still queued (reports of
// the same kind replace each other while they wait, so this takes a skin that stopped taking
// calls).
constexpr size_t kMaxBacklog = 64;
constexpr int32_t kSkinFault = static_cast<int32_t>(0x80004005);  // the generic failure status

std::wstring Limit260(const std::wstring& text) { return text.size() > 260 ? text.substr(0, 260) : text; }

std::wstring Call(const wchar_t* szName, std::vector<std::wstring> args) { return BuildInvokeRequest(szName, args); }

}  // namespace

COrvoUpdaterServiceDlg::COrvoUpdaterServiceDlg(UpDater::CUpdaterMgrEx& mgr, UpDater::IHandOver& handOver, std::wstring strTitle,
                                               const StartedUpdate& update, platform::InterruptWatch& interrupt)
    : m_mgr(mgr), m_handOver(handOver), m_strTitle(std::move(strTitle)), m_update(update), m_interrupt(interrupt) {}

COrvoUpdaterServiceDlg::~COrvoUpdaterServiceDlg() {
    if (m_stopper.joinable()) m_stopper.join();
    {
        std::lock_guard<std::mutex> guard(m_link->cs);
        m_link->pDlg = nullptr;
    }
    m_pWnd.reset();
}

bool COrvoUpdaterServiceDlg::DoModal() {
    if (!platform::WindowFrontEndAvailable()) return false;
    m_tStart = std::chrono::steady_clock::now();
    m_windowThread = std::this_thread::get_id();
    m_hCallEvent = platform::CreateEvent(false, false);
    // The update already runs: making the web views and loading the skin take a while, and the
    // skin catches up with the reports once the window exists.
    auto wnd = platform::CreateDialogWindow(*this);
    if (!wnd) return false;  // not expected once the front end was found usable; the terminal takes over
    m_pWnd = std::move(wnd);
    m_bAlive = true;
    {
        std::lock_guard<std::mutex> guard(m_link->cs);
        m_link->pDlg = this;
    }
    // From here on the reports, the end of the run included, are posted to the window; those
    // that came before are handed on now.
    if (m_update.pRelay != nullptr) m_update.pRelay->Attach(std::make_unique<COrvoUpdaterInterface>(m_link));
    m_flash.Attach(&m_pWnd->Skin(IDialogWindow::kSkinVisible));
    m_flashShape.Attach(&m_pWnd->Skin(IDialogWindow::kSkinShape));
    OnInitDialog();
    RunModalWatching(m_interrupt);
    // The window is gone, but the stop the close button began still needs it until it is done.
    if (m_stopper.joinable()) m_stopper.join();
    m_pWnd->Destroy();
    {
        std::lock_guard<std::mutex> guard(m_link->cs);
        m_link->pDlg = nullptr;
    }
    return true;
}

bool COrvoUpdaterServiceDlg::OnInitDialog() {
    m_pWnd->SetTitle(L"ORVOUpdateSvc");
    m_pWnd->Show(false);

    m_flash.MoveWindow(0, 0, 1, 1);
    m_flash.ShowWindow(false);

    platform::DispatchError err;
    bool ok = m_flash.SetWMode(L"Transparent", &err) && m_flash.SetBackgroundColor(kKeyColor, &err) &&
              m_flashShape.SetBackgroundColor(kKeyColor, &err);
    if (ok) ok = LoadSkin(&err);
    if (!ok) {
        OnSkinLoaded(false, err);
    } else {
        // A page loads while the dialog goes on; one that fails is reported when it does.
        m_flash.WhenLoaded([this](bool bOk, const platform::DispatchError& e) { OnSkinLoaded(bOk, e); });
        m_flashShape.WhenLoaded([this](bool bOk, const platform::DispatchError& e) { OnSkinLoaded(bOk, e); });
    }

    m_pWnd->SetTimer(kTimerFlashCall, 100);
    m_pWnd->SetTimer(kTimerShow, 1000);
    if (m_hCallEvent) m_hCallEvent->Set();

    m_pWnd->Move(0, 0, 0, 0);
    m_pWnd->Show(false);
    m_pWnd->SetTopmost();
    return true;
}

bool COrvoUpdaterServiceDlg::LoadSkin(platform::DispatchError* pError) {
    const std::wstring& path = m_mgr.m_strSkinPath;
    platform::DispatchError why{L"no skin was downloaded", kSkinFault, 0};
    if (!path.empty() && IsWebSkinPath(path)) {
        if (m_flash.LoadMovie(0, path, &why) && m_flashShape.LoadMovie(0, path, &why)) return true;
    } else if (!path.empty()) {
        const size_t slash = path.find_last_of(L"/\\");
        std::wstring fault;
        if (auto layout = ReadSkinFolder(path.substr(0, slash == std::wstring::npos ? 0 : slash),
                                         slash == std::wstring::npos ? path : path.substr(slash + 1), &fault)) {
            if (m_flash.LoadLayout(*layout, &why) && m_flashShape.LoadLayout(*layout, &why)) return true;
        } else {
            why.strText = fault;
        }
    }
    // A skin that cannot be shown is reported, and the default skin shows the update instead.
    platform::OutputDebug(FormatW(L"[Error] Init Flash Err [%s]strErr [%d][%d]Errcode\n", Limit260(why.strText), why.scode,
                                  static_cast<int>(why.wCode)));
    const platform::SkinLayout fallback = DefaultSkinLayout();
    return m_flash.LoadLayout(fallback, pError) && m_flashShape.LoadLayout(fallback, pError);
}

void COrvoUpdaterServiceDlg::OnSkinLoaded(bool bOk, const platform::DispatchError& err) {
    if (bOk || m_bInitErrorShown) return;
    m_bInitErrorShown = true;
    platform::ShowMessageBox(FormatW(platform::Translate(L"[Error] The skin could not be shown: %s [%d][%d]").c_str(), Limit260(err.strText),
                                     err.scode, static_cast<int>(err.wCode)),
                             m_strTitle);
}

void COrvoUpdaterServiceDlg::QueueReport(std::wstring strValueCall, std::wstring strLabelCall) {
    // The window's own thread (handing on the reports held before it existed) never waits for
    // itself.
    if (m_nQueued.load() > kMaxBacklog && m_hCallEvent && std::this_thread::get_id() != m_windowThread) m_hCallEvent->Wait(1000);
    {
        std::lock_guard<std::mutex> guard(m_csQueue);
        // A report whose two calls are still waiting at the end of the queue is replaced by a
        // newer report of the same kind: the skin only needs the latest state.
        const auto fn = [](const std::wstring& s) { return s.substr(0, s.find(L'>')); };
        const size_t n = m_callQueue.size();
        const bool progress = strValueCall.find(L"MaxValue'") == std::wstring::npos;
        if (progress && n >= 2 && fn(m_callQueue[n - 2]) == fn(strValueCall) && fn(m_callQueue[n - 1]) == fn(strLabelCall)) {
            m_callQueue[n - 2] = std::move(strValueCall);
            m_callQueue[n - 1] = std::move(strLabelCall);
        } else {
            m_callQueue.push_back(std::move(strValueCall));
            m_callQueue.push_back(std::move(strLabelCall));
            m_nQueued = m_callQueue.size();
        }
    }
    // Delivery follows the dialog's 100 ms timer rather than every report: thousands of reports
    // a second would otherwise each cost a script call and a repaint, taking the machine from
    // the update itself.
}

void COrvoUpdaterServiceDlg::SetInstallMax(const wchar_t* szText, int nMax) {
    {
        std::lock_guard<std::mutex> guard(m_csInstallMax);
        m_nInstallMax = nMax;
    }
    QueueReport(Call(L"SetInstallProgressMaxValue", {std::to_wstring(nMax)}), Call(L"SetInstallLabelText", {szText}));
}

void COrvoUpdaterServiceDlg::SetStatesMax(const wchar_t* szText, int nMax) {
    {
        std::lock_guard<std::mutex> guard(m_csStatesMax);
        m_nStatesMax = nMax;
    }
    QueueReport(Call(L"SetStatesProgressMaxValue", {std::to_wstring(nMax)}), Call(L"SetStatesLabelText", {szText}));
}

void COrvoUpdaterServiceDlg::SetInstallPos(const wchar_t* szText, int nPos) {
    int nMax;
    {
        std::lock_guard<std::mutex> guard(m_csInstallMax);
        nMax = m_nInstallMax;
    }
    QueueReport(Call(L"SetInstallProgressValue", {std::to_wstring(nPos), std::to_wstring(nMax)}), Call(L"SetInstallLabelText", {szText}));
}

void COrvoUpdaterServiceDlg::SetStatesPos(const wchar_t* szText, int nPos) {
    int nMax;
    {
        std::lock_guard<std::mutex> guard(m_csStatesMax);
        nMax = m_nStatesMax;
    }
    QueueReport(Call(L"SetStatesProgressValue", {std::to_wstring(nPos), std::to_wstring(nMax)}), Call(L"SetStatesLabelText", {szText}));
}

void COrvoUpdaterServiceDlg::OnUpdateComplete() {
    {
        std::lock_guard<std::mutex> guard(m_csEnd);
        m_tCompleteReport = std::chrono::steady_clock::now();
    }
    m_pWnd->PostDialogMessage(WM_ORVO_COMPLETE, 0, 0);
}

void COrvoUpdaterServiceDlg::OnUpdateError(const wchar_t* szText) {
    {
        std::lock_guard<std::mutex> guard(m_csEnd);
        m_strError = szText != nullptr ? szText : L"";
    }
    m_pWnd->PostDialogMessage(WM_ORVO_ERROR, 0, 0);
}

void COrvoUpdaterServiceDlg::OnFlashCall() {
    // Everything queued since the last delivery goes to the skin in order (reports of the same
    // kind have already replaced each other in the queue).
    for (;;) {
        std::wstring request;
        {
            std::lock_guard<std::mutex> guard(m_csQueue);
            if (m_callQueue.empty()) break;
            request = std::move(m_callQueue.front());
            m_callQueue.pop_front();
            m_nQueued = m_callQueue.size();
        }
        if (m_flash.HasWindow()) {
            auto report = [request](const platform::DispatchError& e) {
                platform::OutputDebug(FormatW(L"[Error] [%s] CallFuntion Err [%s]strErr [%d][%d]Errcode", request, Limit260(e.strText),
                                              e.scode, static_cast<int>(e.wCode)));
            };
            ++m_nUnacknowledged;
            platform::DispatchError err;
            const bool sent = m_flash.CallFunction(
                request,
                [this, report](bool ok, const platform::DispatchError& e) {
                    if (!ok) report(e);
                    Acknowledged();
                },
                &err);
            if (!sent) {
                report(err);
                Acknowledged();
            }
        }
    }
    // Nothing in flight: a producer waiting for the skin goes on at once.
    if (m_nUnacknowledged == 0 && m_hCallEvent) m_hCallEvent->Set();
}

void COrvoUpdaterServiceDlg::Acknowledged() {
    // The producer's pacing wait ends as soon as the page has taken every delivered call.
    if (m_nUnacknowledged > 0 && --m_nUnacknowledged == 0 && m_hCallEvent) m_hCallEvent->Set();
}

void COrvoUpdaterServiceDlg::OnTimer(uint32_t nId) {
    switch (nId) {
        case kTimerFlashCall:
            if (m_nQueued.load() > 0) m_pWnd->PostDialogMessage(platform::WM_FLASH_CALL_, 0, 0);
            break;
        case kTimerShow: OnShowTimer(); break;
        case kTimerStartUpdate: OnStartTimer(); break;
        case kTimerCloseAfterComplete:
            m_pWnd->KillTimer(kTimerCloseAfterComplete);
            m_pWnd->PostDialogMessage(platform::WM_SYSCOMMAND_, platform::SC_CLOSE_, 0);
            break;
        default: break;
    }
}

void COrvoUpdaterServiceDlg::OnShowTimer() {
    m_pWnd->KillTimer(kTimerShow);
    const platform::WindowHandle parent = m_mgr.GetParentWnd();
    const bool bCaller = parent != 0 && platform::IsWindowHandle(parent);
    if (!bCaller) {
        BuildShape();
    } else {
        int w = 0, h = 0;
        if (m_pWnd->GetClientSize(parent, &w, &h) && m_pWnd->SetParent(parent)) {
            m_pWnd->Move(0, 0, w, h);
            platform::OutputDebug(FormatW(L"[OVUSVC] Set Parent [%d]HWND !!!!!!!", static_cast<int>(parent)));
        }
    }
    m_pWnd->SetTopmost();
    m_tShown = std::chrono::steady_clock::now();
    m_pWnd->Show(true);
    m_flash.ShowWindow(true);
    m_bShown = true;
    if (m_bEnded) {
        // The run ended before the window was shown, and the hand-over is done. A caller window
        // was told then and ends this one; without one (or once it is gone) the window closes
        // itself, after showing the finished bars for the pause.
        if (!bCaller) {
            if (m_outcome == Outcome::Complete) m_pWnd->SetTimer(kTimerCloseAfterComplete, kCompletePauseMs);
            else m_pWnd->PostDialogMessage(platform::WM_SYSCOMMAND_, platform::SC_CLOSE_, 0);
        }
        return;
    }
    if (m_mgr.m_bExecuteApp == 1) {
        m_outcome = Outcome::NothingToDo;
        CloseUpdater();
    } else {
        m_pWnd->SetTimer(kTimerStartUpdate, 500);
    }
}

void COrvoUpdaterServiceDlg::OnStartTimer() {
    m_pWnd->KillTimer(kTimerStartUpdate);
    if (UpDater::CUpdaterMgrEx::PeekInstance() == nullptr) return;
    if (m_update.bStartFailed) {
        m_outcome = Outcome::Failed;
        CloseUpdater();
        return;
    }
    if (m_hCallEvent) m_hCallEvent->Set();
}

int COrvoUpdaterServiceDlg::BuildShape() {
    platform::Picture picture;
    picture.nWidth = kShapeWidth;
    picture.nHeight = kShapeHeight;
    picture.nStride = kShapeWidth * 4;
    picture.bits.assign(static_cast<size_t>(picture.nStride) * kShapeHeight, 0);
    m_flashShape.MoveWindow(0, 0, kShapeWidth, kShapeHeight);
    if (!m_pWnd->DrawSkin(IDialogWindow::kSkinShape, picture)) return 1;
    // Whatever the skin left uncovered takes exactly the colour of the top-left pixel.
    uint8_t key[4];
    std::memcpy(key, picture.bits.data(), 4);
    key[3] = 0xFF;
    for (size_t i = 0; i < picture.bits.size(); i += 4) std::memcpy(&picture.bits[i], key, 4);
    if (!m_pWnd->DrawSkin(IDialogWindow::kSkinShape, picture)) return 1;

    ShapeBitmap bitmap;
    bitmap.nWidth = picture.nWidth;
    bitmap.nHeight = picture.nHeight;
    bitmap.nStride = picture.nStride;
    bitmap.nBitsPerPixel = 32;
    bitmap.bits = std::move(picture.bits);
    m_hShapeRgn = RegionFromBitmap(bitmap);
    if (!m_hShapeRgn) return 1;

    const ShapeRect b = m_hShapeRgn->Bounds();
    const platform::WorkArea work = m_pWnd->MonitorWorkArea();
    const ShapePoint at = CenteredOrigin(b, work.nWidth, work.nHeight);
    m_pWnd->Move(at.x, at.y, b.right, b.bottom);
    std::vector<IDialogWindow::Rect> rects;
    rects.reserve(m_hShapeRgn->rects.size());
    for (const auto& r : m_hShapeRgn->rects) rects.push_back({r.left, r.top, r.right - r.left, r.bottom - r.top});
    m_pWnd->ApplyShape(rects);
    return 1;
}

void COrvoUpdaterServiceDlg::OnMessage(uint32_t nMessage, uintptr_t wParam, intptr_t) {
    switch (nMessage) {
        case platform::WM_FLASH_CALL_: OnFlashCall(); break;
        case platform::WM_SYSCOMMAND_:
            if (wParam == platform::SC_CLOSE_) m_pWnd->EndModal();
            break;
        case WM_ORVO_STOPPED: OnStopped(); break;
        case WM_ORVO_INTERRUPT:
            platform::OutputDebug(L"[OVUSVC] interrupted: the update is cancelled as by the close button\n");
            platform::WriteStderr(platform::ToUtf8(platform::Translate(L"Update cancelled.")) + "\n");
            UserClose();
            break;
        // The end of the run is acted on when it comes, also before the window is shown: the
        // target does not wait for the window's timers.
        case WM_ORVO_COMPLETE: OnComplete(); break;
        case WM_ORVO_ERROR: OnError(); break;
        default: break;
    }
}

void COrvoUpdaterServiceDlg::OnComplete() {
    platform::OutputDebug(L"[OVUSVC] Update Complete!\n");
    if (m_bUserClose != 0) {
        // The close button came too late to stop the update, but the person still asked for the
        // updater to end: the target is not started.
        platform::OutputDebug(L"[OVUSVC] closed by the user: the target is not started\n");
        return;
    }
    m_mgr.m_bExecuteApp = 1;
    OnFlashCall();  // the finished bars go to the skin before anything else happens
    ShowFileInUseWarning(m_mgr);
    m_outcome = Outcome::Complete;
    // The target starts now; a window already shown keeps the finished bars on screen for the
    // rest of the pause, counted from the report (one not shown yet does so once it is shown).
    std::chrono::steady_clock::time_point from;
    {
        std::lock_guard<std::mutex> guard(m_csEnd);
        from = m_tCompleteReport;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(from + std::chrono::milliseconds(kCompletePauseMs) -
                                                                            std::chrono::steady_clock::now());
    CloseUpdater(left.count() > 0 ? static_cast<uint32_t>(left.count()) : 0);
}

void COrvoUpdaterServiceDlg::OnError() {
    std::wstring text;
    {
        std::lock_guard<std::mutex> guard(m_csEnd);
        text = m_strError + L"\n";
    }
    if (m_bUserClose != 0) platform::OutputDebug(text);
    else platform::ShowMessageBox(platform::WithFailureCause(text), m_strTitle);
    m_mgr.m_bExecuteApp = 0;
    m_outcome = m_bUserClose != 0 ? Outcome::Cancelled : Outcome::Failed;
    CloseUpdater();
}

void COrvoUpdaterServiceDlg::OnSkinCommand(const std::wstring& szCommand, const std::wstring& szArgs) {
    platform::OutputDebug(FormatW(L"[OVUSVC] FSCommand [%s] [%s]\n", szCommand, szArgs));
    if (platform::EqualsNoCase(szCommand, L"btnClose")) UserClose();
}

void COrvoUpdaterServiceDlg::UserClose() {
    if (m_stopper.joinable()) return;  // already stopping
    m_bUserClose = 1;
    m_mgr.m_bCancel = 1;
    if (m_outcome != Outcome::Complete && m_outcome != Outcome::Failed && m_outcome != Outcome::NothingToDo) m_outcome = Outcome::Cancelled;
    // Clearing waits for the running stage and stopping for the worker; meanwhile the worker
    // may still report and post to the window, so the window goes on answering.
    m_stopper = std::thread([this] {
        m_mgr.Clear();
        m_mgr.m_EventChecker.Stop();
        m_pWnd->PostDialogMessage(WM_ORVO_STOPPED, 0, 0);
    });
}

void COrvoUpdaterServiceDlg::OnStopped() {
    if (m_stopper.joinable()) m_stopper.join();
    if (m_hCallEvent) m_hCallEvent->Set();
    CloseUpdater();
}

void COrvoUpdaterServiceDlg::RunModalWatching(platform::InterruptWatch& interrupt) {
    if (!interrupt.IsActive()) {
        m_pWnd->RunModal();
        return;
    }
    const auto done = platform::CreateEvent(true, false);
    std::thread watcher([&] {
        platform::Waitable* handles[] = {&interrupt.Interrupted(), done.get()};
        if (platform::WaitForMultipleObjects(handles, false, platform::INFINITE_) == platform::WAIT_OBJECT_0_)
            m_pWnd->PostDialogMessage(WM_ORVO_INTERRUPT, 0, 0);
    });
    m_pWnd->RunModal();
    done->Set();
    watcher.join();
}

void COrvoUpdaterServiceDlg::OnSize(int nWidth, int nHeight) {
    if (m_flash.HasWindow()) m_flash.MoveWindow(0, 0, nWidth, nHeight);
}

void COrvoUpdaterServiceDlg::OnDestroy() {
    m_bAlive = false;
    {
        std::lock_guard<std::mutex> guard(m_csQueue);
        m_callQueue.clear();
        m_nQueued = 0;
    }
    if (m_hCallEvent) m_hCallEvent->Set();
}

void COrvoUpdaterServiceDlg::CloseUpdater(uint32_t nCloseAfterMs) {
    m_bEnded = true;
    OrvoUi::CloseUpdater(m_handOver, m_mgr, [this, nCloseAfterMs] {
        if (!m_pWnd) return;
        // A completed run shows its finished bars before the window closes (OnShowTimer).
        if (!m_bShown && m_outcome == Outcome::Complete) return;
        if (nCloseAfterMs > 0) m_pWnd->SetTimer(kTimerCloseAfterComplete, nCloseAfterMs);
        else m_pWnd->PostDialogMessage(platform::WM_SYSCOMMAND_, platform::SC_CLOSE_, 0);
    });
}

void COrvoUpdaterServiceDlg::OnFirstFrame() {
    const auto now = std::chrono::steady_clock::now();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - m_tStart).count();
    const auto shown = std::chrono::duration_cast<std::chrono::milliseconds>(now - m_tShown).count();
    platform::OutputDebug(FormatW(L"[OVUSVC] first frame painted %d ms after the dialog started (%d ms after it was shown)\n",
                                  static_cast<int>(ms), static_cast<int>(shown)));
}

}  // namespace OrvoUi
