#include "ui/ConsoleFrontEnd.h"

#include <memory>

#include "platform/debug.h"
#include "platform/failure_cause.h"
#include "platform/i18n.h"
#include "platform/msgbox.h"
#include "platform/strings.h"
#include "platform/terminal.h"
#include "ui/CloseUpdater.h"
#include "ui/ConsoleProgress.h"
#include "ui/FileInUseWarning.h"
#include "updater/FileServices.h"

namespace OrvoUi {

ConsoleOutcome RunConsoleFrontEnd(UpDater::CUpdaterMgrEx& mgr, UpDater::IHandOver& handOver, const StartedUpdate& update,
                                  platform::InterruptWatch& interrupt) {
    auto close = [&] { CloseUpdater(handOver, mgr, nullptr); };
    if (mgr.m_bExecuteApp != 0) {  // nothing to update, but a caller window waits to hear so
        close();
        return ConsoleOutcome::NothingToDo;
    }
    if (update.pRelay == nullptr) {
        platform::OutputDebug(L"[OVUSVC] the update could not be started\n");
        close();
        return ConsoleOutcome::Failed;
    }
    auto* progress = new CConsoleProgress();
    update.pRelay->Attach(std::unique_ptr<UpDater::CMgrInterface>(progress));  // owned with the relay by the manager

    for (;;) {
        if (progress->WaitForEnd(50)) break;
        // The close button: cancel, wait for the worker, never start the target. A run that
        // ended meanwhile is reported as it ended.
        if (interrupt.IsActive() && interrupt.Interrupted().Wait(0) && progress->Cancel(platform::Translate(L"Update cancelled."))) {
            platform::OutputDebug(L"[OVUSVC] update cancelled by the user\n");
            mgr.Cancel();
            close();
            return ConsoleOutcome::Cancelled;
        }
    }

    if (progress->GetResult() == CConsoleProgress::Result::Complete) {
        platform::OutputDebug(L"[OVUSVC] Update Complete!\n");
        mgr.m_bExecuteApp = 1;
        ShowFileInUseWarning(mgr);
        close();
        return ConsoleOutcome::Complete;
    }
    platform::ShowMessageBox(platform::WithFailureCause(progress->GetErrorText() + L"\n"), L"OrvoUpdaterService");
    mgr.m_bExecuteApp = 0;
    close();
    return ConsoleOutcome::Failed;
}

}  // namespace OrvoUi
