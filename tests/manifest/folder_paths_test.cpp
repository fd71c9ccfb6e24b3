#include "manifest/FolderPaths.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/debug.h"
#include "platform/strings.h"
#include "support/test_env.h"

using namespace UpDater;
using platform::FromUtf8;

class FolderTokens : public orvo::test::IsolatedEnvTest {};

TEST_F(FolderTokens, FirstTokenInTableOrderIsTheOnlyOneReplaced) {
    const std::wstring sys = FromUtf8(sysroot());
    const std::wstring home = FromUtf8(this->home());
    const std::wstring install = L"/inst";
    struct Case {
        std::wstring text, installPath, expected;
    } cases[] = {
        {L"_SYS32\\a.dll", install, sys + L"/usr/local/lib\\a.dll"},
        {L"_INSTALL\\bin", L"", L"_INSTALL\\bin"},  // unresolved while the install folder is unknown
        {L"_DESKTOP\\App.lnk", install, L"/inst\\App.lnk"},
        // "_SYS32" comes before "_MYDOC" in the lookup order, so only it is replaced.
        {L"_MYDOC\\x\\_SYS32", install, L"_MYDOC\\x\\" + sys + L"/usr/local/lib"},
        {L"_INSTALL\\a;_INSTALL\\b", install, L"/inst\\a;/inst\\b"},
        {L"_install\\x", install, L"_install\\x"},
        {L"_PROGRAMFILES\\_STARTMENUPROGRAM\\x", install, L"_PROGRAMFILES\\" + sys + L"/usr/local/share/applications\\x"},
        {L"_MYAPP\\v", install, home + L"/.local/share\\v"},
        {L"_PROGRAMFILES\\v", install, sys + L"/opt\\v"},
        {L"_SYS32_SYS32", install, sys + L"/usr/local/lib" + sys + L"/usr/local/lib"},
        {L"plain\\path", install, L"plain\\path"},
    };
    for (const auto& c : cases) EXPECT_EQ(ReplaceFolder(c.text, c.installPath), c.expected) << platform::ToUtf8(c.text);
}

TEST_F(FolderTokens, FailedLookupIsReportedAndLeavesTheText) {
    orvo::test::WriteFile(sysroot() + "/opt", "a file where the folder should be");
    platform::DebugCapture capture;
    EXPECT_EQ(ReplaceFolder(L"_PROGRAMFILES\\x", L""), L"_PROGRAMFILES\\x");
    EXPECT_TRUE(capture.Contains(L"[OVUSVC] [Error 635 line] CVersionBuilder::ReplaceFolder()  [nCSIDL:38] Folder Find Failed \n"));
}

TEST_F(FolderTokens, PathServices) {
    EXPECT_EQ(GetUserDataFolder(), FromUtf8(home() + "/.cache"));
    EXPECT_EQ(GetOsVersion(), 6u);
    EXPECT_FALSE(GetModuleFolder().empty());
    EXPECT_NE(GetModuleFolder().back(), L'/');

    const std::wstring root = FromUtf8(m_root.path());
    EXPECT_FALSE(CreateFolderTree(L""));
    EXPECT_TRUE(CreateFolderTree(root + L"\\a\\b/c"));
    EXPECT_TRUE(orvo::test::Exists(m_root / "a/b/c"));
    EXPECT_TRUE(CreateFolderTree(root + L"\\a\\b"));  // existing: true, nothing changes
    orvo::test::WriteFile(m_root / "file", "x");
    EXPECT_FALSE(CreateFolderTree(root + L"\\file\\sub"));  // a file in the way
    EXPECT_FALSE(CreateFolderTree(root + L"\\" + std::wstring(300, L'n')));  // does not fit the fixed buffer
}

TEST(FileVersion, ReadsTheUpdatersVersionNoteAndFailsOnOtherFiles) {
    platform::FixedFileInfo info{};
    const std::wstring exe = FromUtf8(orvo::test::BuiltBinary("src/app/OrvoUpdaterService"));
    ASSERT_EQ(GetFileVersion(exe, info), 0);
    uint32_t words[13];
    std::memcpy(words, info.data(), sizeof words);
    EXPECT_EQ(words[0], 0xFEEF04BDu);
    EXPECT_EQ(words[2] >> 16, 1u);  // major version of this build

    EXPECT_EQ(GetFileVersion(L"/no/such/file", info), static_cast<int32_t>(0x80070002u));
    EXPECT_EQ(GetFileVersion(L"/bin/sh", info), static_cast<int32_t>(0x80004005u));  // no version block: E_FAIL
}
