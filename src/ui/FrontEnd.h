// The choice of front end at start-up: the skinned window when a skin is at hand and a window
// can be shown, the terminal otherwise (ORVO_FRONTEND=terminal|window forces it).
#pragma once

#include <string>

#include "ui/ConsoleFrontEnd.h"

namespace OrvoUi {

ConsoleOutcome RunFrontEnd(UpDater::CUpdaterMgrEx& mgr, UpDater::IHandOver& handOver, const std::wstring& szTitle);

}  // namespace OrvoUi
