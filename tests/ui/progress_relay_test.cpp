#include "ui/ProgressRelay.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using OrvoUi::CProgressRelay;

// A front end that writes down what reaches it.
class Recorder final : public UpDater::CMgrInterface, public UpDater::CMgrByteProgress {
public:
    explicit Recorder(std::vector<std::wstring>* pLog) : m_pLog(pLog) {}
    void SetInstallProgressMax(const wchar_t* s, int n) override { Add(L"InstallMax", s, n); }
    void SetStatesProgressMax(const wchar_t* s, int n) override { Add(L"StatesMax", s, n); }
    void SetInstallProgress(const wchar_t* s, int n) override { Add(L"Install", s, n); }
    void SetStatesProgress(const wchar_t* s, int n) override { Add(L"States", s, n); }
    void UpdateComplete() override { m_pLog->push_back(L"Complete"); }
    void UpdateError(const wchar_t* s) override { m_pLog->push_back(std::wstring(L"Error ") + s); }
    void SetItemBytes(uint64_t nDone, uint64_t nTotal) override {
        m_pLog->push_back(L"Bytes " + std::to_wstring(nDone) + L"/" + std::to_wstring(nTotal));
    }

private:
    void Add(const wchar_t* kind, const wchar_t* s, int n) { m_pLog->push_back(std::wstring(kind) + L" " + std::to_wstring(n) + L" " + s); }
    std::vector<std::wstring>* m_pLog;
};

// A front end that takes the bars only.
class BarsOnly final : public UpDater::CMgrInterface {
public:
    explicit BarsOnly(int* pReports) : m_pReports(pReports) {}
    void SetInstallProgressMax(const wchar_t*, int) override { ++*m_pReports; }
    void SetStatesProgressMax(const wchar_t*, int) override { ++*m_pReports; }
    void SetInstallProgress(const wchar_t*, int) override { ++*m_pReports; }
    void SetStatesProgress(const wchar_t*, int) override { ++*m_pReports; }
    void UpdateComplete() override { ++*m_pReports; }
    void UpdateError(const wchar_t*) override { ++*m_pReports; }

private:
    int* m_pReports;
};

}  // namespace

TEST(ProgressRelay, HeldReportsReachTheFrontEndInOrderWithOnlyTheLatestOfEachRun) {
    std::vector<std::wstring> log;
    CProgressRelay relay;
    relay.SetInstallProgressMax(L"preparing", 4);
    relay.SetInstallProgress(L"downloading", 1);
    relay.SetStatesProgressMax(L"0/3", 3);
    relay.SetItemBytes(10, 100);  // a running download's bytes are not kept
    for (int i = 1; i <= 3; ++i) relay.SetStatesProgress((std::to_wstring(i) + L"/3").c_str(), i);
    relay.SetInstallProgress(L"installing", 2);
    relay.SetStatesProgressMax(L"0/2", 2);
    relay.SetStatesProgress(L"1/2", 1);
    relay.UpdateComplete();
    relay.SetStatesProgress(L"late", 2);
    EXPECT_TRUE(log.empty());

    relay.Attach(std::make_unique<Recorder>(&log));
    relay.SetItemBytes(5, 0);
    relay.SetInstallProgress(L"after", 3);
    relay.Attach(std::make_unique<Recorder>(&log));  // only the first front end counts
    relay.UpdateError(L"failed");
    EXPECT_EQ(log, (std::vector<std::wstring>{L"InstallMax 4 preparing", L"Install 1 downloading", L"StatesMax 3 0/3", L"States 3 3/3",
                                              L"Install 2 installing", L"StatesMax 2 0/2", L"States 1 1/2", L"Complete", L"States 2 late",
                                              L"Bytes 5/0", L"Install 3 after", L"Error failed"}));
}

TEST(ProgressRelay, HeldReportsAreBoundedAndKeepTheLatestStateAndTheEnd) {
    std::vector<std::wstring> log;
    CProgressRelay relay;
    // Bars that alternate with every report are never a run of one kind.
    const int n = static_cast<int>(CProgressRelay::kMaxHeld) * 4;
    for (int i = 1; i <= n; ++i) {
        relay.SetInstallProgress(L"i", i);
        relay.SetStatesProgress(L"s", i);
    }
    relay.UpdateError(L"stopped");
    relay.Attach(std::make_unique<Recorder>(&log));
    ASSERT_LE(log.size(), CProgressRelay::kMaxHeld + 1);
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[log.size() - 3], L"Install " + std::to_wstring(n) + L" i");
    EXPECT_EQ(log[log.size() - 2], L"States " + std::to_wstring(n) + L" s");
    EXPECT_EQ(log.back(), L"Error stopped");
}

TEST(ProgressRelay, AFrontEndWithoutBytesAndReportsFromAnotherThread) {
    int reports = 0;
    CProgressRelay relay;
    std::thread worker([&] {
        for (int i = 0; i < 2000; ++i) {
            relay.SetStatesProgress(L"s", i);
            relay.SetItemBytes(i, 2000);
        }
        relay.UpdateComplete();
    });
    relay.Attach(std::make_unique<BarsOnly>(&reports));
    worker.join();
    EXPECT_GE(reports, 2);  // at least the latest held report and the end
    EXPECT_LE(reports, 2001);
}
