#include "worker/EventChecker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// Counts its executions; optionally blocks in Execute until the gate opens.
class CountingWorker : public CEventWorker {
public:
    explicit CountingWorker(bool bManualReset) : CEventWorker(bManualReset) {}
    int Execute() override {
        {
            std::lock_guard<std::mutex> g(m_lock);
            m_threads.insert(std::this_thread::get_id());
        }
        const int n = ++m_runs;
        m_entered.Set();
        if (m_block) m_gate.Wait(30000);
        m_abandoned = platform::ThisThreadAbandoned();
        if (m_resetAfter > 0 && n >= m_resetAfter) ResetEvent();
        ++m_finished;
        m_left.Set();
        return 1;
    }
    size_t ThreadCount() {
        std::lock_guard<std::mutex> g(m_lock);
        return m_threads.size();
    }

    std::atomic<int> m_runs{0};
    std::atomic<int> m_finished{0};
    std::atomic<bool> m_block{false};
    std::atomic<bool> m_abandoned{false};
    int m_resetAfter = 0;  // 0: never resets its own event
    platform::Event m_gate{true, false};
    platform::Event m_entered{false, false};
    platform::Event m_left{false, false};

private:
    std::mutex m_lock;
    std::set<std::thread::id> m_threads;
};

bool Eventually(const std::function<bool()>& cond, std::chrono::milliseconds limit = 5000ms) {
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
        if (cond()) return true;
        std::this_thread::sleep_for(2ms);
    }
    return cond();
}

bool IsSignalled(CEventWorker& w) {
    return platform::WaitForSingleObject(w.m_hEvent.get(), 0) == platform::WAIT_OBJECT_0_;
}

class TimeoutGroup : public CEventGroup {
public:
    int OnTimeout() override { return ++m_timeouts, 1; }
    int OnAfterWake() override { return ++m_wakes, 1; }
    std::atomic<int> m_timeouts{0};
    std::atomic<int> m_wakes{0};
};

}  // namespace

TEST(EventGroup, AddingTheSameWorkerTwiceChangesNothing) {
    CEventGroup group;
    CountingWorker worker(false);
    EXPECT_EQ(group.WorkerCount(), 1u);  // the change worker
    EXPECT_EQ(group.m_workers.front(), group.m_pChangeWorker.get());

    worker.SetEvent();
    EXPECT_TRUE(AddWorker(&group, &worker));
    EXPECT_EQ(worker.m_pGroup, &group);
    EXPECT_FALSE(IsSignalled(worker)) << "adding resets the worker's event";
    EXPECT_TRUE(IsSignalled(*group.m_pChangeWorker));
    group.m_pChangeWorker->ResetEvent();

    EXPECT_FALSE(AddWorker(&group, &worker));
    EXPECT_FALSE(IsSignalled(*group.m_pChangeWorker)) << "a refused add must not wake the supervisors";
    EXPECT_EQ(group.WorkerCount(), 2u);
    EXPECT_FALSE(AddWorker(&group, nullptr));
    EXPECT_FALSE(AddWorker(nullptr, &worker));

    EXPECT_EQ(group.ExecuteWorker(1), 1);
    EXPECT_EQ(group.ExecuteWorker(2), 0);
    EXPECT_EQ(group.ExecuteWorker(-1), 0);
    CEventWorker base(true);
    EXPECT_EQ(base.Execute(), 0);
    platform::Event* first = base.m_hEvent.get();
    EXPECT_TRUE(base.Create(7));  // keeps the event it has
    EXPECT_EQ(base.m_hEvent.get(), first);
    EXPECT_TRUE(base.Create(CEventWorker::kAutoReset));
    EXPECT_NE(base.m_hEvent.get(), first);
    first->Set();  // the old event is still alive for whoever waits on it
    EXPECT_TRUE(first->Wait(0));
}

TEST(EventChecker, StartStopOnIdleAndNullGroup) {
    CEventGroup group;
    CEventChecker checker;  // declared last: stopped before what it runs goes away
    EXPECT_FALSE(checker.Start(nullptr, 1));
    EXPECT_TRUE(checker.m_threads.empty());
    EXPECT_TRUE(checker.Stop());
    EXPECT_EQ(checker.m_pGroup.load(), nullptr);

    // Started and stopped at once: the new threads must still be collected.
    ASSERT_TRUE(checker.Start(&group, 2));
    const auto begin = Clock::now();
    EXPECT_TRUE(checker.Stop());
    EXPECT_LT(Clock::now() - begin, 2s);
    EXPECT_TRUE(checker.m_threads.empty());
    EXPECT_EQ(checker.m_pGroup.load(), nullptr);
    EXPECT_EQ(checker.m_lRunning.load(), 0);
}

TEST(EventChecker, RunsWorkerOnSignalAndKeepsTheFirstGroup) {
    TimeoutGroup group;
    CEventGroup other;
    CountingWorker worker(false);
    CEventChecker checker;  // declared last: stopped before what it runs goes away
    ASSERT_TRUE(AddWorker(&group, &worker));
    ASSERT_TRUE(checker.Start(&group, 1));
    worker.SetEvent();
    ASSERT_TRUE(worker.m_left.Wait(5000));
    EXPECT_EQ(worker.m_runs.load(), 1);
    EXPECT_EQ(group.m_timeouts.load(), 0) << "no time-out with an infinite wait";

    ASSERT_TRUE(checker.Start(&other, 1));  // restarts, but the first group stays attached
    EXPECT_EQ(checker.m_pGroup.load(), &group);
    worker.SetEvent();
    ASSERT_TRUE(worker.m_left.Wait(5000));
    EXPECT_EQ(worker.m_runs.load(), 2);

    group.m_dwTimeout = 5;
    group.m_pChangeWorker->SetEvent();  // wake the thread so it waits with the new time-out
    EXPECT_TRUE(Eventually([&] { return group.m_timeouts.load() >= 3; }));
    EXPECT_GE(group.m_wakes.load(), 3);
    EXPECT_TRUE(checker.Stop());
    EXPECT_EQ(group.m_dwTimeout.load(), platform::INFINITE_);
}

TEST(EventChecker, BarrierKeepsSeveralThreadsInStepWhileWorkersAreAdded) {
    constexpr int kThreads = 4;
    CEventGroup group;
    std::vector<std::unique_ptr<CountingWorker>> workers;
    CountingWorker all(true);
    CEventChecker checker;  // declared last: stopped before what it runs goes away
    ASSERT_TRUE(checker.Start(&group, kThreads));

    // Workers added one after another while the threads run: every thread must rebuild its
    // wait list each time and none may be stuck in the barrier.
    for (int i = 0; i < 8; ++i) {
        workers.push_back(std::make_unique<CountingWorker>(false));
        ASSERT_TRUE(AddWorker(&group, workers.back().get()));
    }
    for (auto& w : workers) {
        w->SetEvent();
        ASSERT_TRUE(w->m_left.Wait(5000));
    }
    for (auto& w : workers) EXPECT_EQ(w->m_runs.load(), 1) << "auto-reset: one signal, one run";

    // A manual-reset worker wakes every thread; it stays set until all four have run it,
    // which only happens if all four threads have it in their wait lists.
    ASSERT_TRUE(AddWorker(&group, &all));
    all.SetEvent();
    EXPECT_TRUE(Eventually([&] { return all.ThreadCount() == kThreads; }));
    all.ResetEvent();
    EXPECT_TRUE(Eventually([&] { return !IsSignalled(*group.m_pChangeWorker); }));
    EXPECT_EQ(group.m_pChangeWorker->m_nWaiting.load(), 0);

    const auto begin = Clock::now();
    EXPECT_TRUE(checker.Stop());
    EXPECT_LT(Clock::now() - begin, 2s);
}

// A checker whose threads are busy in a worker that waits for its gate.
class BusyChecker : public ::testing::Test {
protected:
    void StartBusy(int nThreads) {
        busy.m_block = true;
        ASSERT_TRUE(AddWorker(&group, &busy));
        ASSERT_TRUE(checker.Start(&group, nThreads));
        busy.SetEvent();
        ASSERT_TRUE(busy.m_entered.Wait(5000));
    }

    CEventGroup group;
    CountingWorker busy{false};
    platform::MessageQueue queue;
    CEventChecker checker;  // declared last: stopped before what it runs goes away
};

TEST_F(BusyChecker, StopWithOneThreadBusyDoesNotLeaveOthersInTheBarrier) {
    StartBusy(3);
    // Stop sets the change event first: the idle threads go into the barrier, and the busy one,
    // once released, sees the stop event and never arrives there.
    std::thread release([&] {
        std::this_thread::sleep_for(300ms);
        busy.m_gate.Set();
    });
    const auto begin = Clock::now();
    EXPECT_TRUE(checker.Stop());
    release.join();
    EXPECT_LT(Clock::now() - begin, 3s) << "the waiting threads should have been let go";
    EXPECT_FALSE(busy.m_abandoned.load());
}

TEST_F(BusyChecker, AutoResetSignalledTwiceWhileRunningRunsOnceMore) {
    StartBusy(1);
    busy.SetEvent();
    busy.SetEvent();
    busy.m_gate.Set();
    ASSERT_TRUE(Eventually([&] { return busy.m_finished.load() == 2; }));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(busy.m_runs.load(), 2);
    EXPECT_TRUE(checker.Stop());
}

TEST_F(BusyChecker, BusyWorkerIsGivenUpAfterOneSliceWithoutPumping) {
    StartBusy(1);
    const auto begin = Clock::now();
    EXPECT_TRUE(checker.Stop());
    const auto waited = Clock::now() - begin;
    EXPECT_GE(waited, 4900ms);
    EXPECT_LT(waited, 8s);
    EXPECT_TRUE(checker.m_threads.empty());

#ifdef _WIN32
    // Windows ends the given-up thread where it stands: none of its work runs afterwards.
    busy.m_gate.Set();
    EXPECT_FALSE(busy.m_left.Wait(200));
#else
    // The abandoned thread finishes its work, learns it was given up, and runs nothing more.
    busy.m_gate.Set();
    ASSERT_TRUE(busy.m_left.Wait(5000));
    EXPECT_TRUE(busy.m_abandoned.load());
#endif
    busy.SetEvent();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(busy.m_runs.load(), 1);
}

TEST_F(BusyChecker, PumpingStopDispatchesMessagesAndKeepsTheQuitRequest) {
    checker.m_bPumpMessages = 1;
    checker.m_pMessages = &queue;
    StartBusy(1);

    // The work can only end once a message has been dispatched on the stopping thread.
    std::thread::id dispatchedOn;
    queue.Post([&] {
        dispatchedOn = std::this_thread::get_id();
        busy.m_gate.Set();
    });
    queue.PostQuit();
    const auto begin = Clock::now();
    EXPECT_TRUE(checker.Stop());
    EXPECT_LT(Clock::now() - begin, 3s);
    EXPECT_EQ(dispatchedOn, std::this_thread::get_id());
    EXPECT_FALSE(busy.m_abandoned.load());
    EXPECT_TRUE(queue.HasInput());
    EXPECT_TRUE(queue.DispatchPending()) << "the quit request is handed back to the message loop";
}
