#include "platform/fs.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "platform/strings.h"
#include "support/test_env.h"

using namespace platform;
using orvo::test::TempDir;

#ifdef _WIN32
constexpr uint32_t kMissingParentError = ERROR_PATH_NOT_FOUND_;
#else
constexpr uint32_t kMissingParentError = ERROR_FILE_NOT_FOUND_;
#endif

TEST(Files, BothSeparatorsAndWinErrors) {
    TempDir dir;
    const std::wstring root = dir.wpath();
    EXPECT_EQ(CreateDirectoryOne(root + L"\\sub"), 0u);
    EXPECT_EQ(CreateDirectoryOne(root + L"/sub"), ERROR_ALREADY_EXISTS_);
    EXPECT_TRUE(IsDirectory(root + L"\\sub\\"));
    EXPECT_EQ(DeleteFileAt(root + L"\\missing"), ERROR_FILE_NOT_FOUND_);
    EXPECT_EQ(CreateDirectoryOne(root + L"\\no\\such\\parent"), kMissingParentError);

    const std::string bytes = "hello";
    ASSERT_EQ(WriteFileAtomically(root + L"\\sub\\a.txt", std::as_bytes(std::span(bytes))), 0u);
    EXPECT_EQ(FileSize(root + L"/sub/a.txt"), 5u);
    EXPECT_EQ(FindFiles(root + L"\\sub\\*.txt"), std::vector<std::wstring>{L"a.txt"});
    EXPECT_TRUE(FindFiles(root + L"\\sub\\*.dll").empty());

    // Moving never replaces; the atomic replace does.
    orvo::test::WriteFile(dir / "b.txt", "other");
    EXPECT_EQ(MoveFileNoReplace(root + L"\\b.txt", root + L"\\sub\\a.txt"), ERROR_FILE_EXISTS_);
    EXPECT_EQ(orvo::test::ReadFile(dir / "sub/a.txt"), "hello");
    EXPECT_EQ(ReplaceFileAtomic(root + L"\\b.txt", root + L"\\sub\\a.txt"), 0u);
    EXPECT_EQ(orvo::test::ReadFile(dir / "sub/a.txt"), "other");
    EXPECT_FALSE(PathExists(root + L"\\b.txt"));

    // The rename without the wait replaces as well; the folder's entries are flushed apart.
    orvo::test::WriteFile(dir / "c.txt", "third");
    EXPECT_EQ(RenameReplacing(root + L"\\c.txt", root + L"\\sub\\a.txt"), 0u);
    EXPECT_EQ(orvo::test::ReadFile(dir / "sub/a.txt"), "third");
    EXPECT_EQ(RenameReplacing(root + L"\\c.txt", root + L"\\sub\\a.txt"), ERROR_FILE_NOT_FOUND_);
    EXPECT_EQ(SyncFolder(root + L"\\sub"), 0u);
    EXPECT_EQ(SyncFolder(root + L"\\missing"), ERROR_FILE_NOT_FOUND_);
    EXPECT_EQ(FlushFiles({root + L"\\sub\\a.txt", root + L"/sub/a.txt"}), 0u);
    EXPECT_EQ(FlushFiles({root + L"\\sub\\a.txt", root + L"\\gone.txt"}), ERROR_FILE_NOT_FOUND_);
}

// A folder opened once answers each name as the full path would: names with separators,
// "..", empty names, absolute names, links in the folder, a folder that is a file, missing,
// empty or a link.
TEST(Files, FolderProbeAnswersAsThePathWould) {
    TempDir dir;
    const std::wstring root = dir.wpath();
    ASSERT_EQ(CreateDirectoryOne(root + L"\\sub"), 0u);
    ASSERT_EQ(CreateDirectoryOne(root + L"\\sub\\deep"), 0u);
    orvo::test::WriteFile(dir / "sub/a.txt", "a");
    orvo::test::WriteFile(dir / "sub/deep/b.txt", "b");
    orvo::test::WriteFile(dir / "file.txt", "f");
    std::vector<std::wstring> folders = {root + L"\\sub", root + L"/sub/", root + L"\\file.txt", root + L"\\missing", L"", root};
#ifndef _WIN32
    // Wine cannot make folder links; on Linux a linked folder must answer like the real one.
    std::filesystem::create_directory_symlink(dir / "sub", dir / "link");
    folders.push_back(root + L"\\link");
    // Listed links are answered by where they lead: a dangling one is no file.
    std::filesystem::create_symlink(dir / "sub/a.txt", dir / "sub/to-a.txt");
    std::filesystem::create_symlink(dir / "sub/gone.txt", dir / "sub/dangling");
#endif
    const std::wstring names[] = {L"a.txt",      L"A.TXT", L"missing", L"deep\\b.txt", L"deep/b.txt", L"deep\\", L"..", L".", L"deep",
                                  L"..\\file.txt", L"",      L"\\",      root + L"\\sub\\a.txt", L"sub", L"sub\\a.txt", L"to-a.txt",
                                  L"dangling"};
    for (const auto& folder : folders) {
        const FolderProbe probe(folder);
        for (const auto& name : names) {
            EXPECT_EQ(probe.Exists(name), PathExists(folder + L"\\" + name)) << ToUtf8(folder) << " + " << ToUtf8(name);
        }
    }
    // A probe made after the folder changed sees the change.
    EXPECT_FALSE(FolderProbe(root + L"\\sub").Exists(L"new.txt"));
    orvo::test::WriteFile(dir / "sub/new.txt", "n");
    EXPECT_TRUE(FolderProbe(root + L"\\sub").Exists(L"new.txt"));
}

TEST(Files, AtomicWriteLeavesNoTemporaryBehind) {
    TempDir dir;
    const std::wstring target = dir.wpath() + L"\\t.bin";
    const std::string first = "1111", second = "22";
    ASSERT_EQ(WriteFileAtomically(target, std::as_bytes(std::span(first))), 0u);
    ASSERT_EQ(WriteFileAtomically(target, std::as_bytes(std::span(second))), 0u);
    EXPECT_EQ(FindFiles(dir.wpath() + L"\\*"), std::vector<std::wstring>{L"t.bin"});
    auto read = ReadWholeFile(target);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->size(), 2u);
    // A target folder that does not exist fails and leaves nothing.
    EXPECT_NE(WriteFileAtomically(dir.wpath() + L"\\nope\\t.bin", std::as_bytes(std::span(first))), 0u);
}

// Only the siblings a killed write of that very path left go; names that merely look alike stay.
TEST(Files, LeftoverTempSiblingsOfAPathAreRemoved) {
    TempDir dir;
    const std::wstring root = dir.wpath();
    struct Case {
        std::wstring path;
        std::vector<std::string> gone, kept;
    };
    const Case cases[] = {
        {L"\\app.xml",
         {"app.xml.orvo-0123456789abcdef.tmp", "app.xml.orvo-ffffffff00000000.tmp"},
         {"app.xml", "app.xml.orvo-pending", "app.xml.orvo-0123456789abcde.tmp",
          "app.xml.orvo-0123456789abcdefa.tmp", "xapp.xml.orvo-0123456789abcdef.tmp", "app.xml.orvo-0123456789abcdef.tmpx"}},
        {L"/[a].xml", {"[a].xml.orvo-0123456789abcdef.tmp"}, {"a.xml.orvo-0123456789abcdef.tmp"}},
        {L"\\.hidden", {".hidden.orvo-00000000aaaaaaaa.tmp"}, {".hidden"}},
    };
    for (const auto& c : cases) {
        const std::filesystem::path sub = dir / "case";
        std::filesystem::remove_all(sub);
        std::filesystem::create_directory(sub);
        for (const auto& name : c.gone) orvo::test::WriteFile((sub / name).string(), "x");
        for (const auto& name : c.kept) orvo::test::WriteFile((sub / name).string(), "x");
        RemoveTempSiblings(root + L"\\case" + c.path);
        for (const auto& name : c.gone) EXPECT_FALSE(std::filesystem::exists(sub / name)) << name;
        for (const auto& name : c.kept) EXPECT_TRUE(std::filesystem::exists(sub / name)) << name;
    }
}

// Below a folder: missing folders are created, a leftover (read-only) file replaced, a folder
// at the name or a ".." refused; on Linux a link on the way is refused and one at the name is
// replaced, never followed (Wine cannot make links).
TEST(Files, CreateBelowNeverLeavesTheFolder) {
    TempDir dir;
    const std::wstring base = dir.wpath() + L"\\base";
    ASSERT_EQ(CreateFoldersBelow(base, L"a\\b/c"), 0u);
    EXPECT_TRUE(IsDirectory(base + L"\\a\\b\\c"));
    EXPECT_EQ(CreateFoldersBelow(base, L"a\\..\\..\\x"), ERROR_BAD_PATHNAME_);

    File file;
    ASSERT_EQ(file.CreateBelow(base, L"a\\new\\f.txt"), 0u);
    ASSERT_TRUE(file.Write("new", 3));
    file.Close();
    EXPECT_EQ(orvo::test::ReadFile(dir / "base/a/new/f.txt"), "new");
    ASSERT_EQ(SetReadOnly(base + L"\\a\\new\\f.txt", true), 0u);
    ASSERT_EQ(file.CreateBelow(base, L"./a/new/f.txt"), 0u);
    ASSERT_TRUE(file.Write("2", 1));
    file.Close();
    EXPECT_EQ(orvo::test::ReadFile(dir / "base/a/new/f.txt"), "2");
    EXPECT_EQ(file.CreateBelow(base, L"a\\b"), ERROR_ACCESS_DENIED_);
    EXPECT_TRUE(IsDirectory(base + L"\\a\\b\\c"));
    EXPECT_EQ(file.CreateBelow(base, L"..\\escape.txt"), ERROR_BAD_PATHNAME_);
    EXPECT_FALSE(PathExists(dir.wpath() + L"\\escape.txt"));
#ifndef _WIN32
    orvo::test::WriteFile(dir / "outside/f.txt", "outside");
    std::filesystem::create_directory_symlink(dir / "outside", dir / "base/linked");
    std::filesystem::create_symlink(dir / "outside/f.txt", dir / "base/f.txt");
    EXPECT_EQ(CreateFoldersBelow(base, L"linked\\sub"), ERROR_STOPPED_ON_SYMLINK_);
    EXPECT_EQ(file.CreateBelow(base, L"linked\\f.txt"), ERROR_STOPPED_ON_SYMLINK_);
    ASSERT_EQ(file.CreateBelow(base, L"f.txt"), 0u);
    file.Close();
    EXPECT_FALSE(std::filesystem::is_symlink(dir / "base/f.txt"));
    EXPECT_EQ(orvo::test::ReadFile(dir / "outside/f.txt"), "outside");
    EXPECT_FALSE(PathExists(dir.wpath() + L"\\outside\\sub"));
    // The base folder itself may be reached through a link: it is the caller's to trust.
    EXPECT_EQ(CreateFoldersBelow(dir.wpath() + L"\\base\\linked", L"sub"), 0u);
    EXPECT_TRUE(IsDirectory(dir.wpath() + L"\\outside\\sub"));
#endif
}
