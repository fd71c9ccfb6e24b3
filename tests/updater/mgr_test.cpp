// Served by nginx, started as a POSIX process: Linux only.
#ifndef _WIN32
#include "updater/Mgr.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <thread>

#include "platform/strings.h"
#include "platform/sync.h"
#include "support/nginx_server.h"
#include "support/test_env.h"

using namespace UpDater;

namespace {

inline std::wstring Wide(const std::string& s) { return platform::FromUtf8(s); }

// Records every report; signals when the run ends.
class RecordingInterface : public CMgrInterface {
public:
    RecordingInterface(std::vector<std::wstring>& log, platform::Event& ended, std::mutex* pLock = nullptr)
        : m_log(log), m_ended(ended), m_pLock(pLock != nullptr ? pLock : &m_cs) {}
    void SetInstallProgressMax(const wchar_t* t, int n) override { Add(platform::FormatW(L"InstallMax %s %d", t, n)); }
    void SetStatesProgressMax(const wchar_t* t, int n) override { Add(platform::FormatW(L"StatesMax %s %d", t, n)); }
    void SetInstallProgress(const wchar_t* t, int n) override { Add(platform::FormatW(L"Install %s %d", t, n)); }
    void SetStatesProgress(const wchar_t* t, int n) override { Add(platform::FormatW(L"States %s %d", t, n)); }
    void UpdateComplete() override {
        Add(L"Complete");
        m_ended.Set();
    }
    void UpdateError(const wchar_t* t) override {
        Add(platform::FormatW(L"Error %s", t));
        m_ended.Set();
    }

private:
    void Add(const std::wstring& line) {
        std::lock_guard<std::mutex> lock(*m_pLock);
        m_log.push_back(line);
    }
    std::mutex m_cs;
    std::vector<std::wstring>& m_log;
    platform::Event& m_ended;
    std::mutex* m_pLock;
};

}  // namespace

class Manager : public orvo::test::IsolatedEnvTest {
protected:
    void Prepare(CMgr& mgr) {
        mgr.m_strInitXmlUrl = L"http://127.0.0.1/app.xml";
        mgr.m_strTempFolder = Wide(m_root / "work/Temp");
        mgr.m_strTempXmlPath = Wide(m_root / "work/Temp_app.xml");
        mgr.m_strInstallPath = Wide(m_root / "inst");
        mgr.m_strInstallXmlPath = Wide(m_root / "inst/app.xml");
        orvo::test::WriteFile(m_root / "work/Temp_app.xml", "new manifest");
        orvo::test::WriteFile(m_root / "inst/app.xml", "old manifest");
    }
    std::vector<std::wstring> Run(CMgr& mgr) {
        std::vector<std::wstring> log;
        platform::Event ended(true, false);
        EXPECT_TRUE(mgr.StartUp(new RecordingInterface(log, ended)));
        EXPECT_TRUE(ended.Wait(60000));
        mgr.m_EventChecker.Stop();
        return log;
    }
};

// Parts of packages that no plan asks for any more go once a day old; this plan's own parts,
// fresh ones (another suite may be downloading them) and other files stay.
TEST_F(Manager, StaleDownloadPartsOfOtherPackagesAreRemoved) {
    CMgr mgr;
    Prepare(mgr);
    UpdateItem item;
    item.DownloadUrl = L"http://127.0.0.1/pkg/a.zip";
    item.DownloadPath = mgr.m_strTempFolder + L"\\a.zip";
    item.OriFileName = L"a.txt";
    mgr.m_UpdateList.push_back(item);
    const std::string temp = m_root / "work/Temp";
    struct File {
        const char* name;
        int ageHours;
        bool kept;
    };
    const File files[] = {
        {"a.zip.part", 48, true},         {"a.zip.part.meta", 48, true},     {"old.zip.part", 25, false},
        {"old.zip.part.meta", 25, false}, {".hidden.zip.part", 48, false},   {"gone.zip.part.meta", 48, false},
        {"fresh.zip.part", 23, true},     {"fresh.zip.part.meta", 1, true},  {"other.zip", 48, true},
        {"notes.part.txt", 48, true},
    };
    const auto now = std::filesystem::file_time_type::clock::now();
    for (const File& f : files) {
        orvo::test::WriteFile(temp + "/" + f.name, "x");
        std::filesystem::last_write_time(temp + "/" + f.name, now - std::chrono::hours(f.ageHours));
    }
    mgr.RemoveStagingLeftovers();
    for (const File& f : files) EXPECT_EQ(orvo::test::Exists(temp + "/" + f.name), f.kept) << f.name;

    // A run with nothing to do removes every stale part.
    mgr.m_UpdateList.clear();
    mgr.RemoveStaleParts();
    EXPECT_FALSE(orvo::test::Exists(temp + "/a.zip.part"));
    EXPECT_TRUE(orvo::test::Exists(temp + "/fresh.zip.part"));
}

TEST_F(Manager, EmptyAddressStartsNothing) {
    CMgr mgr;
    std::vector<std::wstring> log;
    platform::Event ended(true, false);
    EXPECT_FALSE(mgr.StartUp(new RecordingInterface(log, ended)));
    EXPECT_TRUE(log.empty());
}

TEST_F(Manager, EmptyPlanReportsTheFourStepsAndCompletes) {
    CMgr mgr;
    Prepare(mgr);
    const std::vector<std::wstring> expected = {
        L"InstallMax Preparing the list of updates. 4", L"Install Downloading... 1",
        L"Install Installing and registering... 2",      L"Install Setting up the system... 3",
        L"Install Update complete 4",                    L"Complete",
    };
    EXPECT_EQ(Run(mgr), expected);
    EXPECT_EQ(orvo::test::ReadFile(m_root / "inst/app.xml"), "new manifest");
    EXPECT_FALSE(orvo::test::Exists(m_root / "work/Temp_app.xml"));
    EXPECT_TRUE(mgr.m_strInstallPath.empty());  // cleared at the end
}

TEST_F(Manager, FailingFirewallFailsTheRunAndKeepsTheOldManifest) {
    // Files where the hives' folders should be: the firewall list cannot be opened.
    orvo::test::WriteFile(sysroot() + "/var/lib/orvo", "in the way");
    orvo::test::WriteFile(home() + "/.config/orvo", "in the way");
    CMgr mgr;
    Prepare(mgr);
    const auto log = Run(mgr);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), L"Error [OVUSVC][Error] ExProcess");
    EXPECT_EQ(orvo::test::ReadFile(m_root / "inst/app.xml"), "old manifest");
}

TEST_F(Manager, CancelDuringDownloadFailsThatStageAndRunsNoOther) {
    orvo::test::NginxServer server;
    server.AddDirectives("limit_rate 1m;");
    server.Start();
    orvo::test::MakePatternFile(server.Root() + "/a.zip", 2 << 20);
    orvo::test::MakePatternFile(server.Root() + "/b.zip", 2 << 20);
    CMgr mgr;
    Prepare(mgr);
    for (const char* name : {"a.zip", "b.zip"}) {
        UpdateItem item;
        item.DownloadUrl = Wide(server.Url(std::string("/") + name));
        item.DownloadPath = mgr.m_strTempFolder + L"\\" + Wide(name);
        item.OriFileName = L"x";
        mgr.m_UpdateList.push_back(item);
    }
    std::vector<std::wstring> log;
    std::mutex logLock;
    platform::Event ended(true, false);
    ASSERT_TRUE(mgr.StartUp(new RecordingInterface(log, ended, &logLock)));
    // Cancel once the first download is under way.
    for (int i = 0; i < 500 && !ended.Wait(0); ++i) {
        {
            std::lock_guard<std::mutex> lock(logLock);
            if (log.size() >= 4) break;  // InstallMax, Install 1, StatesMax, States 1/2
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    mgr.m_bCancel = 1;
    ASSERT_TRUE(ended.Wait(60000));
    mgr.m_EventChecker.Stop();
    EXPECT_EQ(log.back(), L"Error [OVUSVC][Error] DownloadUpdateFile");
    for (const auto& line : log) EXPECT_EQ(line.find(L"Installing and registering"), std::wstring::npos) << platform::ToUtf8(line);
    EXPECT_EQ(orvo::test::ReadFile(m_root / "inst/app.xml"), "old manifest");
}

TEST_F(Manager, CleanupKeepsShortcutsStillListedAndComparesPathsExactly) {
    const std::string dir = m_root / "links";
    for (const char* f : {"Kept.desktop", "kept.desktop", "Gone.desktop"})
        orvo::test::WriteFile(dir + "/" + f, "# made by the updater\n[Desktop Entry]\nType=Link\n");
    orvo::test::WriteFile(dir + "/old.bin", "x");
    orvo::test::WriteFile(dir + "/Notes.desktop", "the user's notes, not a shortcut");
    CMgr mgr;
    ShortcutItem kept;
    kept.DestFolderPath = Wide(dir) + L"\\Kept.desktop";
    mgr.m_ShortcutList.push_back(kept);
    for (const char* f : {"Kept.desktop", "kept.desktop", "Gone.desktop", "Notes.desktop"}) {
        ShortcutItem old;
        old.DestFolderPath = Wide(dir) + L"\\" + Wide(f);
        mgr.m_RemoveShortcutList.push_back(old);
    }
    UpdateItem oldFile;
    oldFile.Folder = Wide(dir);
    oldFile.OriFileName = L"old.bin";
    oldFile.InstallPath = Wide(dir) + L"\\old.bin";
    mgr.m_RemoveUpdateList.push_back(oldFile);
    EXPECT_TRUE(mgr.CleanupPrograms());
    EXPECT_TRUE(orvo::test::Exists(dir + "/Kept.desktop"));
    EXPECT_FALSE(orvo::test::Exists(dir + "/kept.desktop"));  // differs only in letter case: not the listed one
    EXPECT_FALSE(orvo::test::Exists(dir + "/Gone.desktop"));
    EXPECT_FALSE(orvo::test::Exists(dir + "/old.bin"));
    EXPECT_EQ(orvo::test::ReadFile(dir + "/Notes.desktop"), "the user's notes, not a shortcut");  // only shortcuts go
}
#endif
