#include "manifest/FolderPaths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/debug.h"
#include "platform/folders.h"
#include "platform/fs.h"
#include "platform/strings.h"
#include "support/test_env.h"

using namespace UpDater;
using platform::FromUtf8;

class FolderTokens : public orvo::test::IsolatedEnvTest {
protected:
    // A special folder as this platform names it.
    static std::wstring Folder(int nCSIDL) {
        auto folder = platform::GetSpecialFolderPath(nCSIDL, true);
        EXPECT_TRUE(folder) << nCSIDL;
        return folder.value_or(L"?");
    }
};

TEST_F(FolderTokens, FirstTokenInTableOrderIsTheOnlyOneReplaced) {
    const auto N = [](const std::wstring& path) { return platform::NativeSeparators(path); };
    const std::wstring sys32 = Folder(platform::CSIDL_SYSTEM);
    const std::wstring programs = Folder(platform::CSIDL_COMMON_PROGRAMS);
    const std::wstring appData = Folder(platform::CSIDL_APPDATA);
    const std::wstring programFiles = Folder(platform::CSIDL_PROGRAM_FILES);
#ifndef _WIN32
    // The Linux stand-ins live below the test's own HOME and ORVO_SYSROOT.
    EXPECT_EQ(sys32, FromUtf8(sysroot()) + L"/usr/local/lib");
    EXPECT_EQ(programs, FromUtf8(sysroot()) + L"/usr/local/share/applications");
    EXPECT_EQ(appData, FromUtf8(home()) + L"/.local/share");
    EXPECT_EQ(programFiles, FromUtf8(sysroot()) + L"/opt");
    EXPECT_EQ(Folder(platform::CSIDL_PERSONAL), FromUtf8(home()) + L"/Documents");
#endif
    const std::wstring install = L"/inst";
    struct Case {
        std::wstring text, installPath, expected;
    } cases[] = {
        // A resolved path has the separators of the system (Linux: '/'); an unresolved text is
        // left as it was written.
        {L"_SYS32\\a.dll", install, N(sys32 + L"\\a.dll")},
        {L"_INSTALL\\bin", L"", L"_INSTALL\\bin"},  // unresolved while the install folder is unknown
        {L"_DESKTOP\\App.lnk", install, N(L"/inst\\App.lnk")},
        // "_SYS32" comes before "_MYDOC" in the lookup order, so only it is replaced.
        {L"_MYDOC\\x\\_SYS32", install, N(L"_MYDOC\\x\\" + sys32)},
        {L"_INSTALL\\a;_INSTALL\\b", install, N(L"/inst\\a;/inst\\b")},
        {L"_install\\x", install, L"_install\\x"},
        {L"_PROGRAMFILES\\_STARTMENUPROGRAM\\x", install, N(L"_PROGRAMFILES\\" + programs + L"\\x")},
        {L"_MYAPP\\v", install, N(appData + L"\\v")},
        {L"_PROGRAMFILES\\v", install, N(programFiles + L"\\v")},
        {L"_SYS32_SYS32", install, sys32 + sys32},
        {L"plain\\path", install, L"plain\\path"},
    };
    for (const auto& c : cases) EXPECT_EQ(ReplaceFolder(c.text, c.installPath), c.expected) << platform::ToUtf8(c.text);
}

#ifndef _WIN32
// Needs a special folder that cannot be had: on Linux a file where the folder should be.
TEST_F(FolderTokens, FailedLookupIsReportedAndLeavesTheText) {
    orvo::test::WriteFile(sysroot() + "/opt", "a file where the folder should be");
    platform::DebugCapture capture;
    EXPECT_EQ(ReplaceFolder(L"_PROGRAMFILES\\x", L""), L"_PROGRAMFILES\\x");
    EXPECT_TRUE(capture.Contains(L"[OVUSVC] [Error 635 line] CVersionBuilder::ReplaceFolder()  [nCSIDL:38] Folder Find Failed \n"));
}
#endif

TEST_F(FolderTokens, PathServices) {
    // A system of version 6 or later uses the low-integrity local data folder.
    EXPECT_EQ(GetOsVersion(), 6u);
    EXPECT_EQ(GetUserDataFolder(), platform::GetLocalAppDataLowFolder());
#ifndef _WIN32
    EXPECT_EQ(GetUserDataFolder(), FromUtf8(home() + "/.cache"));
#endif
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

// A copy in a vendor's folder keeps its skin and dumps beside itself; a shared installation
// keeps them in the user's own folders, the skin apart for each manifest address.
TEST_F(FolderTokens, SkinAndDumpsFollowWhereTheUpdaterIs) {
    orvo::test::MakeDirs(m_root / "vendor");
    const std::wstring vendor = FromUtf8(m_root / "vendor");
    const std::wstring shared = orvo::test::SharedInstallFolder(sysroot());
    ASSERT_FALSE(platform::IsSystemFolder(vendor));
    ASSERT_TRUE(platform::IsSystemFolder(shared));
    const std::wstring url = L"https://updates.example.com/suite/app.xml";

    const SkinFolderPlace besides = SkinFolderFor(vendor, url);
    EXPECT_EQ(besides.Folder(), platform::JoinPath(vendor, L"Skin"));
    EXPECT_EQ(DumpFolderFor(vendor), vendor);

    const SkinFolderPlace own = SkinFolderFor(shared, url);
    EXPECT_TRUE(own.bShared);
    EXPECT_EQ(own.base, GetUserDataFolder());
    EXPECT_EQ(own.Folder(), platform::JoinPath(GetUserDataFolder(), L"TALVEN\\Update\\Skin\\" + ManifestAddressFolderName(url)));
    const std::wstring state = platform::GetUserStateFolder().value_or(L"?");
    EXPECT_EQ(DumpFolderFor(shared), platform::JoinPath(state, L"OrvoUpdaterService"));
#ifndef _WIN32
    EXPECT_EQ(platform::ToUtf8(own.Folder()).rfind(home() + "/.cache/TALVEN/Update/Skin/app.xml-", 0), 0u);
    EXPECT_EQ(DumpFolderFor(shared), FromUtf8(home() + "/.local/state/OrvoUpdaterService"));
#endif

    // The address's own folder: one component, the file name kept readable, apart per address.
    struct Case {
        const wchar_t* url;
        const wchar_t* stem;
    } cases[] = {
        {L"https://updates.example.com/suite/app.xml", L"app.xml-"},
        {L"https://other.example.com/suite/app.xml", L"app.xml-"},
        {L"http://h/a b/caf\u00e9 app.xml?x=1#f", L"caf__app.xml-"},
        {L"https://h/", L"manifest-"},
        {L"https://h/..", L"manifest-"},
    };
    std::vector<std::wstring> seen;
    for (const auto& c : cases) {
        const std::wstring name = ManifestAddressFolderName(c.url);
        EXPECT_EQ(name.rfind(c.stem, 0), 0u) << platform::ToUtf8(name);
        EXPECT_EQ(name.size(), std::wcslen(c.stem) + 16) << platform::ToUtf8(name);
        EXPECT_EQ(name.find_first_of(L"\\/:?# "), std::wstring::npos) << platform::ToUtf8(name);
        EXPECT_EQ(std::count(seen.begin(), seen.end(), name), 0) << platform::ToUtf8(name);
        seen.push_back(name);
    }
    EXPECT_EQ(ManifestAddressFolderName(std::wstring(300, L'a')).size(), 64u + 1 + 16);
}

TEST(FileVersion, ReadsTheUpdatersVersionNoteAndFailsOnOtherFiles) {
    platform::FixedFileInfo info{};
    const std::wstring exe = FromUtf8(orvo::test::BuiltExecutable("src/app/OrvoUpdaterService"));
    ASSERT_EQ(GetFileVersion(exe, info), 0);
    uint32_t words[13];
    std::memcpy(words, info.data(), sizeof words);
    EXPECT_EQ(words[0], 0xFEEF04BDu);
    EXPECT_EQ(words[2] >> 16, 1u);  // major version of this build

    orvo::test::TempDir dir;
    EXPECT_EQ(GetFileVersion(dir.wpath() + L"\\missing.exe", info), static_cast<int32_t>(0x80070002u));
    // This test program carries no version block: E_FAIL.
    EXPECT_EQ(GetFileVersion(platform::GetModuleFilePath().value(), info), static_cast<int32_t>(0x80004005u));
}
