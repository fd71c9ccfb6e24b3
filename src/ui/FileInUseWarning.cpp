#include "ui/FileInUseWarning.h"

#include "platform/i18n.h"
#include "platform/msgbox.h"
#include "platform/strings.h"
#include "updater/FileServices.h"

namespace OrvoUi {

void ShowFileInUseWarning(UpDater::CUpdaterMgrEx& mgr) {
    if (mgr.m_bFileInUse == 0) return;
    platform::ShowMessageBox(
        platform::FormatW(
            platform::Translate(L"[Warning] A process of the %s program is running.\nPlease close the program and run the update again.").c_str(),
            UpDater::GetFileName(mgr.GetExecutePath())),
        L"OrvoUpdaterService");
}

}  // namespace OrvoUi
