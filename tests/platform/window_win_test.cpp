// The caller notification on Windows. Under Wine a top-level window needs a display (Xvfb), so
// the receiver here is a message-only window, which Wine creates without one.
#ifdef _WIN32
#include "platform/window.h"

#include <windows.h>
#include <gtest/gtest.h>

using namespace platform;

TEST(Windows, PostedMessageReachesTheWindow) {
    HWND hWnd = ::CreateWindowExW(0, L"STATIC", L"caller", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(hWnd, nullptr);
    const auto handle = reinterpret_cast<WindowHandle>(hWnd);
    EXPECT_TRUE(IsWindowHandle(handle));
    ASSERT_TRUE(PostWindowMessage(handle, WM_UPDATER_CLOSED, 7, -3));
    MSG msg{};
    ASSERT_TRUE(::PeekMessageW(&msg, hWnd, WM_UPDATER_CLOSED, WM_UPDATER_CLOSED, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 7u);
    EXPECT_EQ(msg.lParam, -3);
    ::DestroyWindow(hWnd);
    EXPECT_FALSE(IsWindowHandle(handle));
    EXPECT_FALSE(PostWindowMessage(handle, WM_UPDATER_CLOSED, 0, 0));
}
#endif
