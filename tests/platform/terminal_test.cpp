#include "platform/terminal.h"

#include <gtest/gtest.h>

#include <csignal>

using namespace platform;

TEST(InterruptWatch, CtrlCBecomesAnEventWhileWatched) {
    {
        InterruptWatch watch;
        ASSERT_TRUE(watch.IsActive());
        InterruptWatch second;
        EXPECT_FALSE(second.IsActive()) << "one watch at a time";
        EXPECT_FALSE(watch.Interrupted().Wait(0));
        std::raise(SIGINT);  // would end the test program without the watch
        EXPECT_TRUE(watch.Interrupted().Wait(5000));
    }
    // A new watch after the first has gone works again.
    InterruptWatch again;
    EXPECT_TRUE(again.IsActive());
    EXPECT_FALSE(again.Interrupted().Wait(0));
}

TEST(InterruptWatch, ASecondInterruptEndsTheProcessAtOnce) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            InterruptWatch watch;
            std::raise(SIGTERM);
            if (!watch.Interrupted().Wait(5000)) std::exit(1);
            std::raise(SIGINT);
            Event never(true, false);
            never.Wait(10000);  // the watch ends the process meanwhile
            std::exit(2);
        },
        ::testing::ExitedWithCode(kInterruptedExitCode), "stopping now");
}
