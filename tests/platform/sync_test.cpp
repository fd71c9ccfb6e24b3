#include "platform/sync.h"
#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace platform;
using namespace std::chrono_literals;

namespace {
std::vector<Waitable*> Slots(std::initializer_list<Event*> events) {
    return std::vector<Waitable*>(events.begin(), events.end());
}
}  // namespace

TEST(Wait, AnyReturnsLowestSignalledSlotAndConsumesOnlyThatAutoResetEvent) {
    Event a(false, false), b(false, true), c(false, true);
    auto slots = Slots({&a, &b, &c});
    EXPECT_EQ(WaitForMultipleObjects(slots, false, 0), WAIT_OBJECT_0_ + 1);
    EXPECT_EQ(WaitForMultipleObjects(slots, false, 0), WAIT_OBJECT_0_ + 2);
    EXPECT_EQ(WaitForMultipleObjects(slots, false, 10), WAIT_TIMEOUT_);

    Event manual(true, true);
    EXPECT_TRUE(manual.Wait(0));
    EXPECT_TRUE(manual.Wait(0));  // stays signalled until reset
    manual.Reset();
    EXPECT_FALSE(manual.Wait(0));

    EXPECT_EQ(WaitForMultipleObjects({}, false, 0), WAIT_FAILED_);
    std::vector<Waitable*> withNull{&a, nullptr};
    EXPECT_EQ(WaitForMultipleObjects(withNull, false, 0), WAIT_FAILED_);
}

TEST(Wait, AllIsAtomicAndWakesWhenTheLastObjectIsSignalled) {
    Event autoEv(false, true), manual(true, false);
    auto slots = Slots({&autoEv, &manual});
    EXPECT_EQ(WaitForMultipleObjects(slots, true, 0), WAIT_TIMEOUT_);
    EXPECT_TRUE(autoEv.Wait(0)) << "a wait-all that failed must not consume the auto-reset event";

    autoEv.Set();
    std::thread late([&] {
        std::this_thread::sleep_for(30ms);
        manual.Set();
    });
    EXPECT_EQ(WaitForMultipleObjects(slots, true, 5000), WAIT_OBJECT_0_);
    late.join();
    EXPECT_FALSE(autoEv.Wait(0));
    EXPECT_TRUE(manual.Wait(0));
}

TEST(Wait, AutoResetSignalWakesExactlyOneOfSeveralWaiters) {
    Event ev(false, false);
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] {
            if (ev.Wait(300)) ++woken;
        });
    }
    std::this_thread::sleep_for(50ms);
    ev.Set();
    for (auto& t : waiters) t.join();
    EXPECT_EQ(woken.load(), 1);
}

TEST(MessageQueue, WaitReportsInputAndDispatchStopsAtQuit) {
    MessageQueue queue;
    Event never(true, false);
    auto slots = Slots({&never});
    EXPECT_EQ(MsgWaitForMultipleObjects(slots, true, 0, &queue), WAIT_TIMEOUT_);

    std::vector<int> ran;
    std::thread poster([&] {
        queue.Post([&] { ran.push_back(1); });
        queue.PostQuit();
        queue.Post([&] { ran.push_back(2); });
    });
    poster.join();
    EXPECT_EQ(MsgWaitForMultipleObjects(slots, true, 1000, &queue), WAIT_OBJECT_0_ + 1);
    EXPECT_TRUE(queue.DispatchPending());
    EXPECT_EQ(ran, std::vector<int>{1});
    EXPECT_FALSE(queue.DispatchPending());
    EXPECT_EQ(ran, (std::vector<int>{1, 2}));
    EXPECT_FALSE(queue.HasInput());
    EXPECT_EQ(MsgWaitForMultipleObjects(slots, false, 0, &queue), WAIT_TIMEOUT_);
}

TEST(Thread, RunsOnlyAfterResumeAndReportsItsExitCode) {
    std::atomic<bool> ran{false};
    auto t = Thread::Create([&] { ran = true; return 7u; }, 0, true);
    ASSERT_TRUE(t);
    EXPECT_EQ(WaitForSingleObject(t->Handle(), 50), WAIT_TIMEOUT_);
    EXPECT_FALSE(ran.load());
    uint32_t code = 0;
    ASSERT_TRUE(t->GetExitCode(code));
    EXPECT_EQ(code, STILL_ACTIVE_);
    ASSERT_TRUE(t->Resume());
    EXPECT_EQ(WaitForSingleObject(t->Handle(), 5000), WAIT_OBJECT_0_);
    ASSERT_TRUE(t->GetExitCode(code));
    EXPECT_EQ(code, 7u);
    EXPECT_TRUE(ran.load());
    EXPECT_FALSE(t->Terminate(1)) << "nothing to terminate";

    // Never resumed: the function never runs, and destroying the object does not hang.
    std::atomic<bool> ranSuspended{false};
    Thread::Create([&] { ranSuspended = true; return 0u; }, 0, true).reset();
    EXPECT_FALSE(ranSuspended.load());
}

TEST(Thread, TerminateAbandonsTheThreadWhichFinishesOnItsOwn) {
    auto gate = std::make_shared<Event>(true, false);
    auto finished = std::make_shared<Event>(true, false);
    auto sawAbandoned = std::make_shared<std::atomic<bool>>(false);
    auto t = Thread::Create(
        [=] {
            gate->Wait(INFINITE_);
            *sawAbandoned = ThisThreadAbandoned();
            finished->Set();
            return 5u;
        },
        0, false);
    ASSERT_TRUE(t);
    EXPECT_FALSE(ThisThreadAbandoned());
    ASSERT_TRUE(t->Terminate(STILL_ACTIVE_));
    EXPECT_EQ(WaitForSingleObject(t->Handle(), 0), WAIT_OBJECT_0_) << "a terminated thread counts as ended";
    uint32_t code = 0;
    ASSERT_TRUE(t->GetExitCode(code));
    EXPECT_EQ(code, STILL_ACTIVE_);
    t.reset();  // the object goes; the thread goes on

    gate->Set();
    ASSERT_TRUE(finished->Wait(5000));
    EXPECT_TRUE(sawAbandoned->load());
}
