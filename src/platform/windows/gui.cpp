#include "platform/gui.h"

namespace platform {

// The native dialog is not built yet: runs use the terminal front end.
bool WindowFrontEndAvailable(std::wstring* pszWhy) {
    if (pszWhy != nullptr) *pszWhy = L"this build has no window front end";
    return false;
}

std::unique_ptr<IDialogWindow> CreateDialogWindow(IDialogEvents&) { return nullptr; }

}  // namespace platform
