// The download stage's pool of transfers, with fetches the test releases one by one.
#include "updater/ParallelDownloads.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>

#include "support/test_env.h"

using namespace UpDater;

namespace {

// Fetches that wait until the test ends them, recording what ran at once.
class Gate {
public:
    bool Fetch(const std::wstring& url) {
        std::unique_lock lock(m_lock);
        ++m_running;
        m_started.push_back(url);
        m_peak = std::max(m_peak, m_running);
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return m_results.count(url) != 0; });
        --m_running;
        return m_results[url];
    }
    void End(const std::wstring& url, bool ok) {
        std::lock_guard lock(m_lock);
        m_results[url] = ok;
        m_changed.notify_all();
    }
    void WaitStarted(size_t n) {
        std::unique_lock lock(m_lock);
        m_changed.wait(lock, [&] { return m_started.size() >= n; });
    }
    std::vector<std::wstring> Started() {
        std::lock_guard lock(m_lock);
        return m_started;
    }
    int Peak() {
        std::lock_guard lock(m_lock);
        return m_peak;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::map<std::wstring, bool> m_results;
    std::vector<std::wstring> m_started;
    int m_running = 0, m_peak = 0;
};

}  // namespace

TEST(ParallelDownloads, AtMostNAtOnceInPlanOrderAndNothingNewAfterAFailure) {
    Gate gate;
    CParallelDownloads pool(2, [&](const std::wstring& url, const std::wstring&, uint64_t) { return gate.Fetch(url); });
    std::thread stage([&] {
        for (const wchar_t* u : {L"1", L"2", L"3", L"4", L"5"})
            if (!pool.Start(u, std::wstring(L"/tmp/") + u)) break;
    });
    // Started in plan order, but two threads of the pool may enter their fetch in either order.
    auto sorted = [](std::vector<std::wstring> v) {
        std::sort(v.begin(), v.end());
        return v;
    };
    gate.WaitStarted(2);
    EXPECT_EQ(sorted(gate.Started()), (std::vector<std::wstring>{L"1", L"2"}));  // the third waits for a slot
    gate.End(L"1", true);
    gate.WaitStarted(3);
    gate.End(L"2", false);  // fails while 3 runs: 4 and 5 never start
    stage.join();           // the stage ends only once the pool saw the failure
    gate.End(L"3", true);
    EXPECT_FALSE(pool.Finish());
    EXPECT_EQ(sorted(gate.Started()), (std::vector<std::wstring>{L"1", L"2", L"3"}));
    EXPECT_EQ(gate.Started().back(), L"3");  // only once a slot was free
    EXPECT_EQ(gate.Peak(), 2);
}

TEST(ParallelDownloads, TheSameLocalFileIsNeverWrittenTwiceAtOnce) {
    Gate gate;
    CParallelDownloads pool(4, [&](const std::wstring& url, const std::wstring&, uint64_t) { return gate.Fetch(url); });
    std::thread stage([&] {
        pool.Start(L"a", L"/tmp/Same.zip");
        pool.Start(L"b", L"/tmp/same.zip");  // letter case aside the same file: waits for a
        pool.Start(L"c", L"/tmp/other.zip");
    });
    gate.WaitStarted(1);
    EXPECT_EQ(gate.Started(), (std::vector<std::wstring>{L"a"}));
    gate.End(L"a", true);
    gate.End(L"b", true);
    gate.End(L"c", true);
    stage.join();
    EXPECT_TRUE(pool.Finish());
    std::vector<std::wstring> started = gate.Started();
    std::sort(started.begin() + 1, started.end());  // b and c may enter their fetches in either order
    EXPECT_EQ(started, (std::vector<std::wstring>{L"a", L"b", L"c"}));
}

TEST(ParallelDownloads, WorkAfterADownloadFreesItsSlotButHoldsItsFile) {
    Gate gate;
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::wstring> afterRan;
    bool release = false;
    auto after = [&](const wchar_t* name) {
        return [&, name] {
            std::unique_lock l(lock);
            afterRan.push_back(name);
            changed.notify_all();
            changed.wait(l, [&] { return release; });
        };
    };
    CParallelDownloads pool(1, [&](const std::wstring& url, const std::wstring&, uint64_t) { return gate.Fetch(url); });
    std::thread stage([&] {
        pool.Start(L"a", L"/tmp/a.zip", UINT64_MAX, after(L"a"));
        pool.Start(L"b", L"/tmp/b.zip", UINT64_MAX, after(L"b"));
        pool.Start(L"c", L"/tmp/A.zip");  // a's file: waits until the work after a ended
    });
    gate.End(L"a", true);
    gate.WaitStarted(2);  // b has a's slot while the work after a still runs
    {
        std::unique_lock l(lock);
        changed.wait(l, [&] { return !afterRan.empty(); });
    }
    gate.End(L"b", true);
    EXPECT_EQ(gate.Started(), (std::vector<std::wstring>{L"a", L"b"}));
    {
        std::lock_guard l(lock);
        EXPECT_EQ(afterRan, (std::vector<std::wstring>{L"a"}));  // one at a time: b's waits
        release = true;
        changed.notify_all();
    }
    gate.End(L"c", true);
    stage.join();
    EXPECT_TRUE(pool.Finish());
    EXPECT_EQ(gate.Started(), (std::vector<std::wstring>{L"a", L"b", L"c"}));
    EXPECT_EQ(afterRan, (std::vector<std::wstring>{L"a", L"b"}));
}

TEST(ParallelDownloads, TheNumberComesFromTheEnvironmentWithinBounds) {
    struct Case {
        std::optional<std::string> value;
        int expected;
    };
    for (const auto& c : {Case{std::nullopt, 4}, Case{"1", 1}, Case{"8", 8}, Case{"0", 4}, Case{"99", 4}, Case{"2x", 4}}) {
        orvo::test::ScopedEnv env("ORVO_PARALLEL_DOWNLOADS", c.value);
        EXPECT_EQ(MaxParallelDownloads(), c.expected) << c.value.value_or("(unset)");
    }
}
