// The front end of a run without a display: the update's progress on the terminal, Ctrl-C as
// the close button, messages as lines on stderr; it ends through the same hand-over as the
// dialog does.
#pragma once

#include "platform/terminal.h"
#include "ui/ProgressRelay.h"
#include "updater/HandOver.h"
#include "updater/UpdaterMgrEx.h"

namespace OrvoUi {

enum class ConsoleOutcome {
    NothingToDo,  // nothing needed updating; handed over at once
    Complete,     // the update completed
    Failed,       // a stage failed, or the update could not be started
    Cancelled,    // the user interrupted the run
};

// Shows the started update to its end and hands over; interrupt acts as the close button.
ConsoleOutcome RunConsoleFrontEnd(UpDater::CUpdaterMgrEx& mgr, UpDater::IHandOver& handOver, const StartedUpdate& update,
                                  platform::InterruptWatch& interrupt);

}  // namespace OrvoUi
