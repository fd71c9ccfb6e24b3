#include "platform/window.h"

#include <windows.h>

namespace platform {

bool IsWindowHandle(WindowHandle hWnd) { return hWnd > 0 && ::IsWindow(reinterpret_cast<HWND>(hWnd)) != FALSE; }

bool PostWindowMessage(WindowHandle hWnd, uint32_t nMessage, uintptr_t wParam, intptr_t lParam) {
    if (hWnd <= 0) return false;
    return ::PostMessageW(reinterpret_cast<HWND>(hWnd), nMessage, static_cast<WPARAM>(wParam),
                          static_cast<LPARAM>(lParam)) != FALSE;
}

}  // namespace platform
