#include "ui/FrontEnd.h"

#include <cstdlib>
#include <cstring>

#include "platform/debug.h"
#include "platform/failure_cause.h"
#include "platform/gui.h"
#include "platform/strings.h"
#include "platform/terminal.h"
#include "ui/OrvoUpdaterServiceDlg.h"
#include "ui/ProgressRelay.h"

namespace OrvoUi {

namespace {

ConsoleOutcome FromDialog(COrvoUpdaterServiceDlg::Outcome outcome) {
    switch (outcome) {
        case COrvoUpdaterServiceDlg::Outcome::NothingToDo: return ConsoleOutcome::NothingToDo;
        case COrvoUpdaterServiceDlg::Outcome::Complete: return ConsoleOutcome::Complete;
        case COrvoUpdaterServiceDlg::Outcome::Failed: return ConsoleOutcome::Failed;
        case COrvoUpdaterServiceDlg::Outcome::Cancelled: break;
    }
    return ConsoleOutcome::Cancelled;
}

// The update starts before a front end is chosen: loading the window module and making the
// window take a while, and the reports wait for the front end in the relay.
StartedUpdate StartUpdate(UpDater::CUpdaterMgrEx& mgr) {
    StartedUpdate update;
    if (mgr.m_bExecuteApp != 0 || UpDater::CUpdaterMgrEx::PeekInstance() == nullptr) return update;
    platform::OutputDebug(L"[OVUSVC] update started\n");
    platform::ClearFailureCause();  // only what goes wrong in this run is its cause
    auto* relay = new CProgressRelay();
    if (mgr.StartUp(relay)) update.pRelay = relay;  // the manager owns it either way
    else update.bStartFailed = true;
    return update;
}

}  // namespace

ConsoleOutcome RunFrontEnd(UpDater::CUpdaterMgrEx& mgr, UpDater::IHandOver& handOver, const std::wstring& szTitle) {
    const char* forced = std::getenv("ORVO_FRONTEND");
    const bool bWindowForced = forced != nullptr && std::strcmp(forced, "window") == 0;
    // Ctrl-C acts as the close button from the start of the update.
    platform::InterruptWatch interrupt;
    const StartedUpdate update = StartUpdate(mgr);
    // Without a downloaded skin the window shows the default one.
    std::wstring why;
    if (platform::WindowFrontEndAvailable(&why)) {
        COrvoUpdaterServiceDlg dlg(mgr, handOver, szTitle, update, interrupt);
        if (dlg.DoModal()) return FromDialog(dlg.GetOutcome());
        why = L"the window could not be created";
    }
    platform::OutputDebug(platform::FormatW(L"[OVUSVC] terminal front end: %s\n", why));
    if (bWindowForced) platform::WriteStderr("warning: no window can be shown (" + platform::ToUtf8(why) + "); showing progress on the terminal\n");
    return RunConsoleFrontEnd(mgr, handOver, update, interrupt);
}

}  // namespace OrvoUi
