#include "ui/CloseUpdater.h"

#include "platform/debug.h"
#include "platform/window.h"

namespace OrvoUi {

void CloseUpdater(UpDater::IHandOver& handOver, UpDater::CUpdaterMgrEx& mgr, const std::function<void()>& closeSelf) {
    handOver.ExecuteApp();
    const platform::WindowHandle parent = mgr.GetParentWnd();
    if (parent != 0 && platform::IsWindowHandle(parent)) {
        platform::OutputDebug(L"[VUSVC] --- UI --- ParentWnd PostMsg Updater Close!!!!!\n");
        platform::PostWindowMessage(parent, platform::WM_UPDATER_CLOSED, 0, 0);
        return;  // with a caller window, ending the updater's window is the caller's job
    }
    if (closeSelf) closeSelf();
}

}  // namespace OrvoUi
