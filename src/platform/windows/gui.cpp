#include "platform/gui.h"

#include <windows.h>

#include <cstdlib>
#include <mutex>

#include "platform/strings.h"
#include "platform/windows/dialog_window.h"

namespace platform {

namespace {

std::once_flag g_once;
bool g_bAvailable = false;
std::wstring g_why;

void Probe() {
    const char* forced = std::getenv("ORVO_FRONTEND");
    if (forced != nullptr && std::string(forced) == "terminal") {
        g_why = L"the terminal front end was chosen (ORVO_FRONTEND=terminal)";
        return;
    }
    // A service's window station has no desktop a person sees.
    USEROBJECTFLAGS flags{};
    if (::GetUserObjectInformationW(::GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags, nullptr) &&
        (flags.dwFlags & WSF_VISIBLE) == 0) {
        g_why = L"the window station is not interactive";
        return;
    }
    // Wine without an X display refuses top-level windows: a hidden one tells.
    HWND probe = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    if (probe == nullptr) {
        g_why = FormatW(L"no desktop to show a window on (error %d)", static_cast<int>(::GetLastError()));
        return;
    }
    ::DestroyWindow(probe);
    g_bAvailable = true;
}

}  // namespace

bool WindowFrontEndAvailable(std::wstring* pszWhy) {
    std::call_once(g_once, Probe);
    if (!g_bAvailable && pszWhy != nullptr) *pszWhy = g_why;
    return g_bAvailable;
}

std::unique_ptr<IDialogWindow> CreateDialogWindow(IDialogEvents& events) {
    if (!WindowFrontEndAvailable()) return nullptr;
    auto wnd = std::make_unique<wingui::DialogWindow>(events);
    if (!wnd->Created()) return nullptr;
    return wnd;
}

}  // namespace platform
