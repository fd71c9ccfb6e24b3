#include "updater/FileServices.h"

#include <gtest/gtest.h>

#include "platform/strings.h"
#include "support/test_env.h"

using namespace UpDater;
using orvo::test::TempDir;

TEST(FileServices, SplitsPathsAndAddresses) {
    struct Case {
        const wchar_t* path;
        const wchar_t* name;
        const wchar_t* ext;
        const wchar_t* folder;
    } cases[] = {
        {L"C:\\Program Files\\App\\Comp.OCX", L"Comp.OCX", L".OCX", L"C:\\Program Files\\App\\"},
        {L"/opt/app/lib/libx.so", L"libx.so", L".so", L"/opt/app/lib/"},
        {L"/opt/app.d/README", L"README", L"", L"/opt/app.d/"},
        {L"archive.tar.gz", L"archive.tar.gz", L".gz", L""},
        {L"http://host/pkg/v2/app.zip", L"app.zip", L".zip", L"http://host/pkg/v2/"},
        {L"/opt/app/", L"", L"", L"/opt/app/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(platform::ToUtf8(c.path));
        EXPECT_EQ(GetFileName(c.path), c.name);
        EXPECT_EQ(GetFileExt(c.path), c.ext);
        EXPECT_EQ(GetFolderPath(c.path), c.folder);
    }
}

TEST(FileServices, ExistsAndSize) {
    TempDir dir;
    orvo::test::WriteFile(dir / "sub/data.bin", std::string(1234, 'x'));
    const std::wstring root = dir.wpath();
    EXPECT_TRUE(FileExists(root + L"\\sub\\data.bin"));
    EXPECT_TRUE(FileExists(root + L"/sub"));  // folders too
    EXPECT_TRUE(FileExists(root + L"\\sub\\*.bin"));
    EXPECT_FALSE(FileExists(root + L"\\sub\\*.txt"));
    EXPECT_FALSE(FileExists(root + L"\\sub\\"));  // ending in a separator
    EXPECT_FALSE(FileExists(root + L"\\missing"));
    EXPECT_FALSE(FileExists(L""));
    EXPECT_FALSE(FileExists(root + L"/" + std::wstring(300, L'a')));

    EXPECT_EQ(GetFileSize(root + L"\\sub\\data.bin"), 1234);
    EXPECT_EQ(GetFileSize(root + L"\\sub\\missing.bin"), 0);
}

TEST(FileServices, SingleNamesAndParentComponents) {
    const struct {
        const wchar_t* text;
        bool singleName;
        bool hasParent;
    } cases[] = {
        {L"app.dll", true, false},       {L"..app", true, false},         {L"a..b", true, false},
        {L"...", true, false},           {L"", false, false},             {L".", false, false},
        {L"..", false, true},            {L"sub\\a.dll", false, false},   {L"sub/a.dll", false, false},
        {L"C:a.dll", false, false},      {L"..\\a.dll", false, true},     {L"/opt/app/../etc", false, true},
        {L"C:\\App\\..", false, true},   {L"/opt/app/x..", false, false}, {L"/opt/./app", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(platform::ToUtf8(c.text));
        EXPECT_EQ(IsSingleName(c.text), c.singleName);
        EXPECT_EQ(HasParentComponent(c.text), c.hasParent);
    }
}
