// The reader against archives made by standard tools, and against broken and hostile ones
// made byte by byte.
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "platform/strings.h"
#include "support/test_env.h"
#include "support/zip_builder.h"
#include "zip/ZipArchive.h"

using namespace orvo::test;
namespace fs = std::filesystem;

namespace {

// Relative path → size and hash of the content (a trailing "/" marks a folder).
using Tree = std::map<std::string, std::string>;

[[maybe_unused]] Tree TreeOf(const std::string& root) {  // unused where the standard tools are not run
    Tree tree;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const std::string rel = fs::relative(it->path(), root).generic_string();
        if (it->is_directory())
            tree[rel + "/"] = "";
        else {
            const std::string data = ReadFile(it->path().string());
            tree[rel] = std::to_string(data.size()) + ":" + std::to_string(std::hash<std::string>{}(data));
        }
    }
    return tree;
}

struct Outcome {
    bool opened = false;
    int cause = 0;         // CZipException cause, 0 when none was thrown
    bool allTrue = true;   // every ExtractEntry returned true
    std::vector<std::wstring> names;
};

Outcome ExtractAll(const std::string& zipPath, const std::string& dest) {
    Outcome out;
    CZipArchive zip;
    try {
        zip.OpenArchive(platform::FromUtf8(zipPath));
        out.opened = true;
        for (int i = 0; i < zip.GetEntryCount(); ++i) {
            CZipFileHeader header;
            EXPECT_TRUE(zip.GetEntryInfo(header, i));
            out.names.push_back(header.GetEntryName());
            if (!zip.ExtractEntry(i, platform::FromUtf8(dest), true, nullptr, 65536)) out.allTrue = false;
        }
        zip.CloseArchive();
    } catch (const CZipException& e) {
        out.cause = e.m_iCause;
    }
    return out;
}

[[maybe_unused]] std::string Script() { return std::string(ORVO_SOURCE_DIR) + "/tests/zip/make_archives.py"; }

#ifndef _WIN32
// Archives made by the standard tools of the build machine (zip, python3); a Windows build run
// under Wine cannot start them.

// A source tree with compressible, incompressible, empty and nested files, made once.
class StandardArchives : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = new TempDir();
        const std::string src = *s_dir / "src";
        std::string text;
        for (int i = 0; i < 4000; ++i) text += "line " + std::to_string(i) + " of the readme\n";
        WriteFile(src + "/docs/readme.txt", text);
        std::string noise(150000, '\0');
        uint32_t x = 12345;
        for (auto& c : noise) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
        WriteFile(src + "/bin/app.bin", noise);
        WriteFile(src + "/empty.txt", "");
        WriteFile(src + "/deep/a/b/c.txt", "nested\n");
        MakeDirs(src + "/emptydir");
        s_expected = new Tree(TreeOf(src));
    }
    static void TearDownTestSuite() {
        delete s_expected;
        delete s_dir;
    }
    static std::string Src() { return *s_dir / "src"; }
    static TempDir* s_dir;
    static Tree* s_expected;
};

TempDir* StandardArchives::s_dir = nullptr;
Tree* StandardArchives::s_expected = nullptr;

TEST_F(StandardArchives, ExtractTheSourceTreeExactly) {
    // Each command builds $Z from the source tree in the current folder.
    const struct {
        const char* name;
        std::string command;
    } cases[] = {
        {"zip deflated", "zip -qr $Z ."},
        {"zip stored", "zip -qr0 $Z ."},
        {"zip with a 1000-byte comment", "zip -qr $Z . && head -c 1000 /dev/zero | tr '\\0' c | zip -qz $Z"},
        {"zip with a raw 777-byte stub", "zip -qr $Z.t . && head -c 777 /dev/urandom > $Z.s && cat $Z.s $Z.t > $Z"},
        {"zip with an adjusted stub", "zip -qr $Z.t . && head -c 777 /dev/urandom > $Z.s && cat $Z.s $Z.t > $Z && zip -qA $Z"},
        {"zip with data descriptors", "zip -qr -fd $Z ."},
        {"zip with Zip64 records", "zip -qr -fz $Z ."},
        {"python deflated", "python3 " + Script() + " deflated . $Z"},
        {"python stored", "python3 " + Script() + " stored . $Z"},
        {"python streamed", "python3 " + Script() + " streamed . - | cat > $Z"},
        {"python Zip64", "python3 " + Script() + " zip64 . $Z"},
        {"bsdtar deflated", "bsdtar -a -cf $Z.zip . && mv $Z.zip $Z"},
        {"bsdtar stored", "bsdtar --format zip --options zip:compression=store -cf $Z ."},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string zipPath = *s_dir / ("a" + std::to_string(n) + ".zip");
        const std::string dest = *s_dir / ("out" + std::to_string(n++));
        MakeDirs(dest);
        std::string command = c.command;
        for (size_t p; (p = command.find("$Z")) != std::string::npos;) command.replace(p, 2, "'" + zipPath + "'");
        ASSERT_EQ(orvo::test::Run("cd '" + Src() + "' && " + command), 0) << command;
        const Outcome out = ExtractAll(zipPath, dest);
        EXPECT_EQ(out.cause, 0);
        EXPECT_TRUE(out.allTrue);
        Tree got = TreeOf(dest);
        Tree want = *s_expected;
        // Python and bsdtar keep the empty folder only as an entry; all tools keep it here.
        EXPECT_EQ(got, want);
    }
}

TEST_F(StandardArchives, NamesAreDecodedByTheirOrigin) {
    const std::string dos = *s_dir / "dos.zip", utf8 = *s_dir / "utf8.zip", info = *s_dir / "info.zip";
    ASSERT_EQ(orvo::test::Run("python3 " + Script() + " dosnames . '" + dos + "'"), 0);
    ASSERT_EQ(orvo::test::Run("python3 " + Script() + " utf8names . '" + utf8 + "'"), 0);
    // Info-ZIP stores the UTF-8 bytes of a Unix name as they are, without flag bit 11.
    const std::string unixSrc = *s_dir / "unixsrc";
    WriteFile(unixSrc + "/\xEC\x84\xA4\xEC\xA0\x95.ini", "x");
    ASSERT_EQ(orvo::test::Run("cd '" + unixSrc + "' && zip -q '" + info + "' *.ini"), 0);

    const struct {
        std::string zip;
        std::vector<std::wstring> names;
        std::vector<std::string> files;
    } cases[] = {
        {dos, {L"café.txt"}, {"café.txt"}},
        {utf8, {L"한글\\파일.txt", L"Grüße.txt"}, {"한글/파일.txt", "Grüße.txt"}},
        {info, {L"설정.ini"}, {"설정.ini"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.zip);
        TempDir dest;
        const Outcome out = ExtractAll(c.zip, dest.path());
        ASSERT_EQ(out.cause, 0);
        EXPECT_EQ(out.names, c.names);
        for (const auto& f : c.files) EXPECT_TRUE(Exists(dest / f)) << f;
    }
}

// More than 65,535 entries without Zip64 records: the 16-bit count wraps and the directory's
// size decides; exactly 65,536 (count 0) opens too. A count that disagrees otherwise is refused.
TEST_F(StandardArchives, WrappedEntryCountsAreReadByTheDirectorySize) {
    for (const int count : {65536, 65539}) {
        SCOPED_TRACE(count);
        const std::string zipPath = *s_dir / ("wrapped" + std::to_string(count) + ".zip");
        ASSERT_EQ(orvo::test::Run("python3 " + Script() + " wrapped " + std::to_string(count) + " '" + zipPath + "'"), 0);
        CZipArchive zip;
        zip.OpenArchive(platform::FromUtf8(zipPath));
        ASSERT_EQ(zip.GetEntryCount(), count);
        TempDir dest;
        for (const int i : {0, count - 1}) EXPECT_TRUE(zip.ExtractEntry(i, platform::FromUtf8(dest.path())));
        char last[32];
        std::snprintf(last, sizeof last, "f/%06d.txt", count - 1);
        EXPECT_EQ(ReadFile(dest / last), std::to_string(count - 1) + "\n");

        if (count == 65539) {
            // The same directory announcing 2 entries: neither 65,539 nor a wrap of it.
            std::string bytes = ReadFile(zipPath);
            const size_t end = bytes.size() - 22;
            bytes[end + 8] = bytes[end + 10] = 2;
            const std::string bad = *s_dir / "miscounted.zip";
            WriteFile(bad, bytes);
            CZipArchive refused;
            try {
                refused.OpenArchive(platform::FromUtf8(bad));
                ADD_FAILURE() << "opened with " << refused.GetEntryCount() << " entries";
            } catch (const CZipException& e) {
                EXPECT_EQ(e.m_iCause, CZipException::badZipFile);
            }
        }
    }
}

// Entries some tools record unusually: a folder marked only with the MS-DOS archive bit, and data
// that Info-ZIP read from standard input, recorded as a named pipe. Links stay refused.
TEST_F(StandardArchives, FolderNamesAndPipedEntries) {
    const std::string folder = *s_dir / "dosfolder.zip", piped = *s_dir / "piped.zip", linked = *s_dir / "linked.zip";
    ASSERT_EQ(orvo::test::Run("python3 " + Script() + " dosfolder . '" + folder + "'"), 0);
    ASSERT_EQ(orvo::test::Run("printf 'from a pipe' | zip -q - - > '" + piped + "'"), 0);
    ASSERT_EQ(orvo::test::Run("cd '" + s_dir->path() + "' && rm -rf ln && mkdir ln && ln -s /etc/passwd ln/pw && zip -qy '" + linked + "' ln/pw"), 0);

    TempDir dest;
    Outcome out = ExtractAll(folder, dest.path());
    ASSERT_EQ(out.cause, 0);
    EXPECT_TRUE(out.allTrue);
    EXPECT_TRUE(fs::is_directory(dest / "dir"));
    EXPECT_EQ(ReadFile(dest / "dir/inside.txt"), "inside\n");

    out = ExtractAll(piped, dest.path());
    ASSERT_EQ(out.cause, 0);
    EXPECT_TRUE(out.allTrue);
    EXPECT_TRUE(fs::is_regular_file(dest / "-"));
    EXPECT_EQ(ReadFile(dest / "-"), "from a pipe");

    EXPECT_EQ(ExtractAll(linked, dest.path()).cause, CZipException::unsafeEntry);
    EXPECT_FALSE(fs::exists(fs::symlink_status(dest / "ln/pw")));
}

TEST_F(StandardArchives, EmptyArchiveOpensWithNoEntries) {
    const std::string empty = *s_dir / "empty.zip";
    ASSERT_EQ(orvo::test::Run("python3 " + Script() + " empty . '" + empty + "'"), 0);
    CZipArchive zip;
    zip.OpenArchive(platform::FromUtf8(empty));
    EXPECT_EQ(zip.GetEntryCount(), 0);
    CZipFileHeader header;
    EXPECT_FALSE(zip.GetEntryInfo(header, 0));
    zip.CloseArchive();
    EXPECT_FALSE(zip.GetEntryInfo(header, 0));
}

#endif

TEST(ZipExtract, FileTimeAndReadOnlyFollowTheEntry) {
    TempDir dir;
    ZipEntryDef ro = ZipEntry("ro.txt", "read only");
    ro.externalAttr = 0100444u << 16;
    ro.dosTime = (13 << 11) | (45 << 5) | (30 / 2);  // 13:45:30
    ro.dosDate = ((2023 - 1980) << 9) | (7 << 5) | 14;  // 2023-07-14
    ZipEntryDef rw = ZipEntry("sub/rw.txt", "writable");
    ZipEntryDef nomode = ZipEntry("nomode.txt", "no mode recorded");
    nomode.externalAttr = 0;
    WriteFile(dir / "t.zip", BuildZip({ro, rw, nomode}).bytes);
    MakeDirs(dir / "out");
    const Outcome out = ExtractAll(dir / "t.zip", dir / "out");
    ASSERT_EQ(out.cause, 0);
    EXPECT_TRUE(out.allTrue);

    std::tm tm{};
    tm.tm_year = 123, tm.tm_mon = 6, tm.tm_mday = 14, tm.tm_hour = 13, tm.tm_min = 45, tm.tm_sec = 30, tm.tm_isdst = -1;
    const auto when = platform::FileModTime(platform::FromUtf8(dir / "out/ro.txt"));
    ASSERT_TRUE(when);
    EXPECT_EQ(std::chrono::system_clock::to_time_t(*when), std::mktime(&tm));
    const auto perms = fs::status(dir / "out/ro.txt").permissions();
    EXPECT_EQ(perms & fs::perms::owner_write, fs::perms::none);
    EXPECT_NE(fs::status(dir / "out/sub/rw.txt").permissions() & fs::perms::owner_write, fs::perms::none);
    EXPECT_NE(fs::status(dir / "out/nomode.txt").permissions() & fs::perms::owner_write, fs::perms::none);
}

TEST(ZipEndRecord, IsFoundBehindCommentsAndAcrossChunkEdges) {
    // 32748 bytes of comment put the signature across the first 32 KiB chunk's edge.
    for (size_t commentSize : {0u, 1000u, 32746u, 32748u, 32750u, 65535u}) {
        SCOPED_TRACE(commentSize);
        TempDir dir;
        WriteFile(dir / "c.zip",
                  BuildZip({ZipEntry("a.txt", "abc")}, std::string(commentSize, 'x'), "stub!").bytes);
        MakeDirs(dir / "out");
        const Outcome out = ExtractAll(dir / "c.zip", dir / "out");
        EXPECT_EQ(out.cause, 0);
        EXPECT_EQ(ReadFile(dir / "out/a.txt"), "abc");
    }
}

TEST(ZipEntries, IndexesFollowTheDataOrderNotTheDirectoryOrder) {
    TempDir dir;
    WriteFile(dir / "o.zip",
              BuildZip({ZipEntry("first"), ZipEntry("second"), ZipEntry("third")}, {}, {}, {2, 0, 1}).bytes);
    MakeDirs(dir / "out");
    const Outcome out = ExtractAll(dir / "o.zip", dir / "out");
    EXPECT_EQ(out.cause, 0);
    EXPECT_EQ(out.names, (std::vector<std::wstring>{L"first", L"second", L"third"}));
}

TEST(ZipNames, SafeRelativeNames) {
    const std::pair<std::wstring, std::optional<std::wstring>> cases[] = {
        {L"docs\\readme.txt", L"docs\\readme.txt"},
        {L"C:\\x.dll", L"x.dll"},
        {L"\\x.dll", L"x.dll"},
        {L"\\\\?\\C:\\x.dll", L"x.dll"},
        {L".\\a\\\\b\\", L"a\\b"},
        {L"..\\evil", std::nullopt},
        {L"a\\..\\..\\evil", std::nullopt},
        {L"C:..\\evil", std::nullopt},
        {L"C:C:\\evil", std::nullopt},
        {L"a\\b.txt:stream", std::nullopt},
        {std::wstring(L"a\0b", 3), std::nullopt},
        {L"x.dll.", std::nullopt},
        {L"x.dll ", std::nullopt},
        {L"dir\\CON.txt", std::nullopt},
        {L"lpt1", std::nullopt},
        {L"con_notes.txt", L"con_notes.txt"},
        {L"a*b", std::nullopt},
        {L"\\", L""},
        {L".\\", L""},
    };
    for (const auto& [name, want] : cases) EXPECT_EQ(CZipPathComponent::MakeSafeRelative(name), want) << platform::ToUtf8(name);
}

TEST(ZipException, TextsAndBuffers) {
    wchar_t buf[260];
    EXPECT_TRUE(CZipException(101).GetErrorText(buf, 260));
    EXPECT_STREQ(buf, L"Damaged or not a zip file");
    EXPECT_TRUE(CZipException(2).GetErrorText(buf, 260));
    EXPECT_STREQ(buf, L"No such file or directory");
    EXPECT_TRUE(CZipException(CZipException::ZlibErrToCause(-3)).GetErrorText(buf, 260));
    EXPECT_STREQ(buf, L"Zlib library error (data error)");
    EXPECT_TRUE(CZipException(102).GetErrorText(buf, 4));
    EXPECT_STREQ(buf, L"Crc");
    EXPECT_FALSE(CZipException(102).GetErrorText(nullptr, 4));
    EXPECT_FALSE(CZipException(102).GetErrorText(buf, 0));
    EXPECT_EQ(CZipException(9999).GetErrorMessage(), L"Unknown error");
}

}  // namespace
