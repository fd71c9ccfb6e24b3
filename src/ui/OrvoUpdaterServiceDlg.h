// The updater's window: hosts the skin, starts the update and turns its progress reports into
// calls of the skin's script functions. Reports arrive on the update's worker thread; the skin
// is only ever called on the window's thread, through a queue emptied by the WM_FLASH_CALL
// message that the dialog's 100 ms timer posts while calls wait.
// The update runs while the window starts: the web engine takes a while to come up, and the
// show (1 s) and start (0.5 s) timers only decide when the window appears and when the end of
// the run may be acted on. The finished bars stay on screen for a second, while the target
// already starts.
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/gui.h"
#include "platform/sync.h"
#include "platform/terminal.h"
#include "ui/FlashControl.h"
#include "ui/ProgressRelay.h"
#include "ui/WindowShape.h"
#include "updater/HandOver.h"
#include "updater/UpdaterMgrEx.h"

namespace OrvoUi {

class COrvoUpdaterServiceDlg;

// What the progress adapter holds: the dialog while it exists. The dialog clears it before it
// goes, so a report arriving later only pauses.
struct DialogLink {
    std::mutex cs;
    COrvoUpdaterServiceDlg* pDlg = nullptr;
};

class COrvoUpdaterServiceDlg : public platform::IDialogEvents {
public:
    enum class Outcome {
        NothingToDo,  // nothing needed updating; handed over
        Complete,
        Failed,     // a stage failed or the update could not be started
        Cancelled,  // the skin's close button, or the window was destroyed from outside
    };

    static constexpr uint32_t kTimerFlashCall = 1000;
    static constexpr uint32_t kTimerStartUpdate = 1100;
    static constexpr uint32_t kTimerShow = 1200;
    static constexpr uint32_t kTimerCloseAfterComplete = 1300;
    // How long the finished bars stay on screen after the run completed.
    static constexpr int kCompletePauseMs = 1000;
    static constexpr int32_t kKeyColor = 0xFF00FF;  // behind the skin; never part of the shape
    // The end of a run, handed from the worker to the window's thread so that its message box
    // and the hand-over happen there, in order.
    static constexpr uint32_t WM_ORVO_COMPLETE = 0x8001;
    static constexpr uint32_t WM_ORVO_ERROR = 0x8002;
    // The update has stopped after the close button (posted by the thread that stopped it).
    static constexpr uint32_t WM_ORVO_STOPPED = 0x8003;
    // An interrupt from the terminal (Ctrl-C), which acts as the close button.
    static constexpr uint32_t WM_ORVO_INTERRUPT = 0x8004;

    // update: the run this window shows (started before the window is made); interrupt acts as
    // the close button.
    COrvoUpdaterServiceDlg(UpDater::CUpdaterMgrEx& mgr, UpDater::IHandOver& handOver, std::wstring strTitle, const StartedUpdate& update,
                           platform::InterruptWatch& interrupt);
    ~COrvoUpdaterServiceDlg() override;
    COrvoUpdaterServiceDlg(const COrvoUpdaterServiceDlg&) = delete;
    COrvoUpdaterServiceDlg& operator=(const COrvoUpdaterServiceDlg&) = delete;

    // Creates the window and runs it until it ends; false when no window could be created (the
    // update then still waits for a front end).
    bool DoModal();
    Outcome GetOutcome() const { return m_outcome; }
    platform::IDialogWindow* Window() const { return m_pWnd.get(); }

    // Worker side (through the progress adapter).
    bool IsWindowAlive() const { return m_bAlive.load(); }
    void SetInstallMax(const wchar_t* szText, int nMax);
    void SetStatesMax(const wchar_t* szText, int nMax);
    void SetInstallPos(const wchar_t* szText, int nPos);
    void SetStatesPos(const wchar_t* szText, int nPos);
    void OnUpdateComplete();
    void OnUpdateError(const wchar_t* szText);

    // Window side.
    void OnTimer(uint32_t nId) override;
    void OnMessage(uint32_t nMessage, uintptr_t wParam, intptr_t lParam) override;
    void OnSkinCommand(const std::wstring& szCommand, const std::wstring& szArgs) override;
    void OnSize(int nWidth, int nHeight) override;
    void OnDestroy() override;
    void OnFirstFrame() override;

    // How many skin calls wait for delivery.
    size_t QueuedCalls() const { return m_nQueued.load(); }

private:
    bool OnInitDialog();
    void OnFlashCall();
    void OnShowTimer();
    void OnStartTimer();
    int BuildShape();
    // The hand-over at once; the dialog's own window closes after nCloseAfterMs.
    void CloseUpdater(uint32_t nCloseAfterMs = 0);
    void Acknowledged();
    // Appends the two calls of one report and posts their delivery.
    void QueueReport(std::wstring strValueCall, std::wstring strLabelCall);
    void OnSkinLoaded(bool bOk, const platform::DispatchError& error);
    // The vendor's skin, native or a page; a skin that cannot be shown is reported in the
    // debug output and the default skin is shown. False only when not even that can be.
    bool LoadSkin(platform::DispatchError* pError);
    void OnComplete();
    void OnError();
    // The close button: cancel, stop the update without blocking the window, then close.
    void UserClose();
    void OnStopped();
    // Runs the window until it ends, with Ctrl-C acting as the close button meanwhile.
    void RunModalWatching(platform::InterruptWatch& interrupt);

    UpDater::CUpdaterMgrEx& m_mgr;
    UpDater::IHandOver& m_handOver;
    std::wstring m_strTitle;
    StartedUpdate m_update;
    platform::InterruptWatch& m_interrupt;
    std::unique_ptr<platform::IDialogWindow> m_pWnd;  // set before the reports come through
    std::shared_ptr<DialogLink> m_link = std::make_shared<DialogLink>();
    std::atomic<bool> m_bAlive{false};

    CFlash_main m_flash;
    std::mutex m_csInstallMax;
    std::mutex m_csStatesMax;
    int m_nInstallMax = 0;
    int m_nStatesMax = 0;
    std::mutex m_csQueue;
    std::deque<std::wstring> m_callQueue;
    std::atomic<size_t> m_nQueued{0};
    std::unique_ptr<platform::Event> m_hCallEvent;
    std::atomic<int> m_bUserClose{0};
    CFlash_main m_flashShape;
    std::optional<ShapeRegion> m_hShapeRgn;

    std::mutex m_csEnd;
    std::wstring m_strError;  // the text of the last error report
    std::chrono::steady_clock::time_point m_tCompleteReport;
    Outcome m_outcome = Outcome::Cancelled;

    std::chrono::steady_clock::time_point m_tStart;  // DoModal began
    std::chrono::steady_clock::time_point m_tShown;  // the window was shown (timer 1200)
    std::thread::id m_windowThread;                  // the thread DoModal runs on
    bool m_bInitErrorShown = false;
    bool m_bShown = false;  // the show timer has run
    bool m_bEnded = false;  // the end of the run was acted on (hand-over done)
    // Pacing: the page has acknowledged every call delivered so far.
    size_t m_nUnacknowledged = 0;
    // Clears the lists and stops the checker after the close button: both wait for the worker,
    // which may itself be waiting to be heard by the window.
    std::thread m_stopper;
};

}  // namespace OrvoUi
