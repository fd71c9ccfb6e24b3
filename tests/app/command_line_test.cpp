#include "app/CommandLine.h"

#include <gtest/gtest.h>

#include "manifest/FolderPaths.h"
#include "manifest/WorkingFolder.h"
#include "platform/fs.h"
#include "platform/strings.h"
#include "support/test_env.h"

using namespace OrvoApp;
using UpDater::CUpdaterMgrEx;

namespace {
struct Parsed {
    ArgsResult result;
    std::wstring url, wnd, file, param;
};
Parsed Parse(const std::wstring& line) {
    CUpdaterMgrEx mgr;
    Parsed p{ParseUpdaterArgs(line, mgr, L"test"), mgr.m_strXmlUrl, mgr.m_strParentWnd, mgr.m_strExecuteFile,
             mgr.m_strExecuteParam};
    return p;
}
}  // namespace

class CommandLine : public orvo::test::IsolatedEnvTest {};

TEST_F(CommandLine, SplitsQuotesAndParameters) {
    struct Case {
        std::wstring line;
        ArgsResult result;
        std::wstring url, wnd, file, param;
    } cases[] = {
        {L"\"http://h/u.xml 123 app.exe\"", ArgsResult::Run, L"http://h/u.xml", L"123", L"app.exe", L""},
        {L"http://h/u.xml NULL app.exe \"a  b\"", ArgsResult::Run, L"http://h/u.xml", L"NULL", L"app.exe", L"a b"},
        {L"  http://h/u.xml   nUlL  app.exe  -x   -y  ", ArgsResult::Run, L"http://h/u.xml", L"nUlL", L"app.exe", L"-x -y"},
        {L"http://h/u.xml", ArgsResult::Run, L"http://h/u.xml", L"", L"", L""},
        {L"http://h/u.xml 0 \"quoted name\" p", ArgsResult::Run, L"http://h/u.xml", L"0", L"\"quoted", L"name\" p"},
        {L"a|b|c 1 x", ArgsResult::Run, L"a|b|c", L"1", L"x", L""},  // three pieces at '|': the space form
        {L"\"\"", ArgsResult::Empty, L"", L"", L"", L""},
        {L"   ", ArgsResult::Empty, L"", L"", L"", L""},
        {L"", ArgsResult::Empty, L"", L"", L"", L""},
    };
    for (const auto& c : cases) {
        const Parsed p = Parse(c.line);
        const std::string label = platform::ToUtf8(c.line);
        EXPECT_EQ(p.result, c.result) << label;
        EXPECT_EQ(p.url, c.url) << label;
        EXPECT_EQ(p.wnd, c.wnd) << label;
        EXPECT_EQ(p.file, c.file) << label;
        EXPECT_EQ(p.param, c.param) << label;
    }
}

TEST_F(CommandLine, ManifestSwapModeMovesTheRefreshedCopy) {
    // The per-user data folder: $XDG_CACHE_HOME of the fixture on Linux, LocalLow on Windows.
    const std::string work = platform::ToUtf8(platform::NativeSeparators(
        platform::JoinPath(UpDater::GetUserDataFolder(), UpDater::AddressWorkingFolder(L"http://h/dir/app.xml"))));
    const std::string local = m_root / "inst/app.xml";
    orvo::test::WriteFile(local, "old");
    orvo::test::WriteFile(work + "/Temp_app.xml", "new");
    for (const wchar_t* sep : {L"||", L"|"}) {
        const std::wstring line = L"http://h/dir/app.xml" + std::wstring(sep) + platform::FromUtf8(local);
        EXPECT_EQ(Parse(line).result, ArgsResult::SwapMode);
    }
    EXPECT_EQ(orvo::test::ReadFile(local), "new");
    EXPECT_FALSE(orvo::test::Exists(work + "/Temp_app.xml"));
    // Without a refreshed copy nothing is touched.
    EXPECT_EQ(Parse(L"http://h/dir/app.xml||" + platform::FromUtf8(local)).result, ArgsResult::SwapMode);
    EXPECT_EQ(orvo::test::ReadFile(local), "new");
}

TEST(UpdaterSettings, ExecutePathDropsLeadingDotsOnceAndParentWindowNeedsARealWindow) {
    CUpdaterMgrEx mgr;
    EXPECT_EQ(mgr.GetExecutePath(), L"");
    mgr.m_strInstallPath = L"/inst";
    mgr.m_strExecuteFile = L"..\\ .\\bin\\app.exe  ";
    const std::wstring expected = platform::NativeSeparators(L"/inst\\bin\\app.exe  ");
    EXPECT_EQ(mgr.GetExecutePath(), expected);
    mgr.m_strInstallPath = L"/elsewhere";
    EXPECT_EQ(mgr.GetExecutePath(), expected);  // computed once

    orvo::test::ScopedEnv noDisplay("DISPLAY", std::nullopt);
    for (const wchar_t* wnd : {L"NULL", L"null", L"0", L"garbage", L"-17", L"99999999999999999999", L"12345"}) {
        CUpdaterMgrEx m;
        m.SetParentWnd(wnd);
        EXPECT_EQ(m.GetParentWnd(), 0) << platform::ToUtf8(wnd);
    }
    EXPECT_EQ(UpDater::ParseSignedDecimal(L"  -42x7"), -42);
    EXPECT_EQ(UpDater::ParseSignedDecimal(L"+"), 0);
}
