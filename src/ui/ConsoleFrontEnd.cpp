#include "ui/ConsoleFrontEnd.h"

#include "platform/debug.h"
#include "platform/msgbox.h"
#include "platform/strings.h"
#include "platform/terminal.h"
#include "ui/CloseUpdater.h"
#include "ui/ConsoleProgress.h"
#include "updater/FileServices.h"

namespace OrvoUi {

ConsoleOutcome RunConsoleFrontEnd(UpDater::CUpdaterMgrEx& mgr, UpDater::IHandOver& handOver) {
    auto close = [&] { CloseUpdater(handOver, mgr, nullptr); };
    if (mgr.m_bExecuteApp != 0) {  // nothing to update, but a caller window waits to hear so
        close();
        return ConsoleOutcome::NothingToDo;
    }

    platform::InterruptWatch interrupt;
    auto* progress = new CConsoleProgress();  // owned by the manager from StartUp on
    if (!mgr.StartUp(progress)) {
        platform::OutputDebug(L"[OVUSVC] the update could not be started\n");
        close();
        return ConsoleOutcome::Failed;
    }

    for (;;) {
        if (progress->WaitForEnd(50)) break;
        // The close button: cancel, wait for the worker, never start the target. A run that
        // ended meanwhile is reported as it ended.
        if (interrupt.IsActive() && interrupt.Interrupted().Wait(0) && progress->Cancel(L"Update cancelled.")) {
            platform::OutputDebug(L"[OVUSVC] update cancelled by the user\n");
            mgr.Cancel();
            close();
            return ConsoleOutcome::Cancelled;
        }
    }

    if (progress->GetResult() == CConsoleProgress::Result::Complete) {
        platform::OutputDebug(L"[OVUSVC] Update Complete!\n");
        mgr.m_bExecuteApp = 1;
        if (mgr.m_bFileInUse != 0) {
            platform::ShowMessageBox(
                platform::FormatW(L"[Warning] %s 프로그램에 관련 된 프로세서가 동작 중입니다.\n프로그램 종료 후 최신 업데이트 작업을 다시 "
                                  L"진행하시길 바랍니다.",
                                  UpDater::GetFileName(mgr.GetExecutePath())),
                L"OrvoUpdaterService");
        }
        close();
        return ConsoleOutcome::Complete;
    }
    platform::ShowMessageBox(progress->GetErrorText() + L"\n", L"OrvoUpdaterService");
    mgr.m_bExecuteApp = 0;
    close();
    return ConsoleOutcome::Failed;
}

}  // namespace OrvoUi
