// The warning both front ends show when a run completed but some installed file was in use.
#pragma once

#include "updater/UpdaterMgrEx.h"

namespace OrvoUi {

// Shows the warning (in the user's language) when the manager reports a file in use.
void ShowFileInUseWarning(UpDater::CUpdaterMgrEx& mgr);

}  // namespace OrvoUi
