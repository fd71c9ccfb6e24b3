// How a front end (dialog or console) ends the run: hand over, tell the caller's window,
// and close itself when there is no caller window to do it.
#pragma once

#include <functional>

#include "updater/HandOver.h"
#include "updater/UpdaterMgrEx.h"

namespace OrvoUi {

void CloseUpdater(UpDater::IHandOver& handOver, UpDater::CUpdaterMgrEx& mgr, const std::function<void()>& closeSelf);

}  // namespace OrvoUi
