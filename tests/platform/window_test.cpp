#include "platform/window.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(Windows, GarbageHandlesAreNoWindow) {
    for (WindowHandle h : {WindowHandle{0}, WindowHandle{-5}, WindowHandle{0x7FFFFFF0}}) {
        EXPECT_FALSE(IsWindowHandle(h)) << h;
        EXPECT_FALSE(PostWindowMessage(h, WM_UPDATER_CLOSED, 0, 0)) << h;
    }
}
