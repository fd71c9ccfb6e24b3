#include "platform/msgbox.h"

#include <windows.h>

#include "platform/debug.h"
#include "platform/strings.h"
#include "platform/terminal.h"
#include "platform/windows/dialog_window.h"

namespace platform {

void ShowMessageBox(const std::wstring& szText, const std::wstring& szCaption) {
    // Started from a console (or with standard error redirected), the line goes there: it is
    // what a person at the console, or a log, reads.
    const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
    const bool bLine = err != nullptr && err != INVALID_HANDLE_VALUE && ::GetFileType(err) != FILE_TYPE_UNKNOWN;
    if (bLine) {
        std::string text = ToUtf8(szText);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        WriteStderr(ToUtf8(szCaption) + ": " + text + "\n");
    }
    // While the window shows, the person watches the window: a real box as well.
    if (wingui::DialogWindow::MessageBoxOnDialogThread(szText, szCaption)) return;
    // Otherwise (the terminal front end, start-up) a box only where no console shows the line:
    // it would wait unseen behind the console.
    if (bLine) return;
    if (::MessageBoxW(nullptr, szText.c_str(), szCaption.c_str(), MB_OK | MB_SETFOREGROUND) == 0) {
        // No desktop to show it on: at least the debug output keeps it.
        OutputDebug(FormatW(L"[VUSVC] message box could not be shown (%d): %s: %s\n",
                            static_cast<int>(::GetLastError()), szCaption, szText));
    }
}

}  // namespace platform
