#include "ui/FrontEnd.h"

#include <cstdlib>
#include <cstring>

#include "platform/debug.h"
#include "platform/gui.h"
#include "platform/strings.h"
#include "platform/terminal.h"
#include "ui/OrvoUpdaterServiceDlg.h"

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

}  // namespace

ConsoleOutcome RunFrontEnd(UpDater::CUpdaterMgrEx& mgr, UpDater::IHandOver& handOver, const std::wstring& szTitle) {
    const char* forced = std::getenv("ORVO_FRONTEND");
    const bool bWindowForced = forced != nullptr && std::strcmp(forced, "window") == 0;
    std::wstring why = L"no skin to show";
    if (!mgr.m_strSkinPath.empty() && platform::WindowFrontEndAvailable(&why)) {
        COrvoUpdaterServiceDlg dlg(mgr, handOver, szTitle);
        if (dlg.DoModal()) return FromDialog(dlg.GetOutcome());
        why = L"the window could not be created";
    }
    platform::OutputDebug(platform::FormatW(L"[OVUSVC] terminal front end: %s\n", why));
    if (bWindowForced) platform::WriteStderr("warning: no window can be shown (" + platform::ToUtf8(why) + "); showing progress on the terminal\n");
    return RunConsoleFrontEnd(mgr, handOver);
}

}  // namespace OrvoUi
