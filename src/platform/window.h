// The caller's window: existence check and posting a message to it.
// Linux: X11 window ids written in decimal are the handles; a posted message is a ClientMessage
// event of type "_ORVO_WINDOW_MESSAGE" with data.l[0] = message, l[1] = wParam, l[2] = lParam.
// Without a display every handle is "no window". Windows: IsWindow and PostMessageW.
#pragma once

#include <cstdint>

namespace platform {

using WindowHandle = intptr_t;

inline constexpr uint32_t WM_UPDATER_CLOSED = 3034;
inline constexpr uint32_t WM_SYSCOMMAND_ = 0x0112;
inline constexpr uintptr_t SC_CLOSE_ = 0xF060;
inline constexpr const char* kWindowMessageAtom = "_ORVO_WINDOW_MESSAGE";

bool IsWindowHandle(WindowHandle hWnd);
bool PostWindowMessage(WindowHandle hWnd, uint32_t nMessage, uintptr_t wParam, intptr_t lParam);

}  // namespace platform
