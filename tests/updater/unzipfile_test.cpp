// UnzipFile: a package is unpacked next to itself, or refused with one diagnostic line.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/debug.h"
#include "platform/fs.h"
#include "platform/strings.h"
#include "support/test_env.h"
#include "support/zip_builder.h"
#include "updater/UnzipFile.h"

using namespace orvo::test;
namespace fs = std::filesystem;

namespace {

#ifndef _WIN32
// The package is made by the build machine's zip tool, which Wine cannot start.
TEST(UnzipFile, ExtractsEveryEntryBesideThePackage) {
    TempDir dir;
    const std::string pkg = dir / "Temp/pkg.zip";
    WriteFile(dir / "Temp/src/Orvo.dll", std::string(200000, 'd'));
    WriteFile(dir / "Temp/src/res/skin.swf", "movie");
    ASSERT_EQ(orvo::test::Run("cd '" + (dir / "Temp/src") + "' && zip -qr '" + pkg + "' ."), 0);
    fs::remove_all(dir / "Temp/src");
    // A read-only leftover of an earlier run is replaced.
    WriteFile(dir / "Temp/Orvo.dll", "old");
    ASSERT_EQ(platform::SetReadOnly(platform::FromUtf8(dir / "Temp/Orvo.dll"), true), 0u);

    EXPECT_TRUE(UpDater::UnzipFile(platform::FromUtf8(pkg)));
    EXPECT_EQ(ReadFile(dir / "Temp/Orvo.dll"), std::string(200000, 'd'));
    EXPECT_EQ(ReadFile(dir / "Temp/res/skin.swf"), "movie");
    EXPECT_TRUE(Exists(pkg));
}
#endif

// The entry's recorded mode comes with the entry from the same opening of the package: a file
// packed where there are no Unix modes must not lose the permissions of the one it replaces.
TEST(UnzipFile, UnzipEntryTellsWhetherTheEntryRecordsItsMode) {
    auto dos = ZipEntry("app.bin", "payload");
    dos.versionMadeBy = 20;  // MS-DOS
    dos.externalAttr = 0x20;
    auto unixNoMode = ZipEntry("app.bin", "payload");
    unixNoMode.externalAttr = 0;
    const struct {
        const char* what;
        ZipEntryDef entry;
        bool recorded;
    } cases[] = {{"unix", ZipEntry("app.bin", "payload"), true}, {"ms-dos", dos, false}, {"unix without a mode", unixNoMode, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        WriteFile(dir / "Temp/pkg.zip", BuildZip({c.entry}).bytes);
        std::wstring unpacked;
        bool recorded = !c.recorded;
        ASSERT_TRUE(UpDater::UnzipEntry(platform::FromUtf8(dir / "Temp/pkg.zip"), L"app.bin", 7,
                                        platform::FromUtf8(dir / "Temp/app.bin"), &unpacked, &recorded));
        EXPECT_EQ(recorded, c.recorded);
        EXPECT_EQ(ReadFile(platform::ToUtf8(unpacked)), "payload");
    }
}

TEST(UnzipFile, RefusedPackagesLogTheReaderText) {
    const struct {
        const char* name;
        std::string bytes;
        const wchar_t* text;
    } cases[] = {
        {"not a zip", std::string(3000, 'h'),
         L"The central directory was not found in the archive (or you were trying to open not the last disk of a "
         L"multi-disk archive)"},
        {"crc mismatch",
         [] {
             auto e = ZipEntry("a.dll");
             e.crc = 7;
             return BuildZip({e}).bytes;
         }(),
         L"Crc mismatched"},
        {"leaves the folder", BuildZip({ZipEntry("../victim.txt", "evil")}).bytes,
         L"An entry's name or type would place it outside the target folder or over another entry"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        WriteFile(dir / "victim.txt", "original");
        WriteFile(dir / "Temp/pkg.zip", c.bytes);
        platform::DebugCapture capture;
        EXPECT_FALSE(UpDater::UnzipFile(platform::FromUtf8(dir / "Temp/pkg.zip")));
        const std::wstring line =
            platform::FormatW(L"[OVUSVC] [Error %d line] UpDater::UnzipFile() [%s] File Unzip Failed \n", 428, c.text);
        EXPECT_TRUE(capture.Contains(line)) << platform::ToUtf8(line);
        EXPECT_EQ(ReadFile(dir / "victim.txt"), "original");
    }
}

TEST(UnzipFile, EntryEndingEarlyFailsWithoutException) {
    TempDir dir;
    auto e = ZipEntry("a.dll", std::string(100, 'x'));
    e.uncompressedSize = 101;
    WriteFile(dir / "pkg.zip", BuildZip({ZipEntry("first.txt", "1"), e, ZipEntry("z.txt", "never")}).bytes);
    platform::DebugCapture capture;
    EXPECT_FALSE(UpDater::UnzipFile(platform::FromUtf8(dir / "pkg.zip")));
    EXPECT_TRUE(capture.Lines().empty());
    EXPECT_EQ(ReadFile(dir / "first.txt"), "1");
    EXPECT_FALSE(Exists(dir / "z.txt"));
}

}  // namespace

#ifndef _WIN32
// Only the entry the item names leaves the package, and only when its declared size is the
// announced one: extra entries and bombs never reach the disk.
TEST(UnzipEntry, OnlyTheNamedEntryWithinItsAnnouncedSize) {
    TempDir dir;
    const std::string src = dir / "src";
    WriteFile(src + "/app.bin", "the program");
    WriteFile(src + "/extra/huge.bin", std::string(8 << 20, '\0'));  // 8 MiB of zeros: a few KiB packed
    ASSERT_EQ(orvo::test::Run("chmod 755 '" + src + "/app.bin' && mkdir -p '" + (dir / "Temp") + "' && cd '" + src +
                              "' && zip -qr '" + (dir / "Temp/pkg.zip") + "' app.bin extra"),
              0);
    const std::wstring pkg = platform::FromUtf8(dir / "Temp/pkg.zip");
    const std::wstring near = platform::FromUtf8(dir / "Temp/app.bin");
    auto listing = [&] {
        std::string out;
        orvo::test::Run("cd '" + (dir / "Temp") + "' && find . -mindepth 1 | sort", &out);
        return out;
    };

    const struct {
        const char* what;
        const wchar_t* name;
        int64_t size;
        std::wstring line;  // expected when it fails
    } refused[] = {
        {"missing entry", L"other.bin", 11, L"[OVUSVC][Error 349 line] CMgr::UnzipDownloadFile()   [other.bin] Upzip File Exist Failed \n"},
        {"size differs", L"app.bin", 10,
         L"[OVUSVC][Error 359 line] CMgr::UnzipDownloadFile()   [" + near + L"] Upzip File size Failed \n"},
        {"bomb bigger than announced", L"extra/huge.bin", 100,
         L"[OVUSVC][Error 359 line] CMgr::UnzipDownloadFile()   [" + near + L"] Upzip File size Failed \n"},
        {"folder entry", L"extra", 0, L"[OVUSVC][Error 349 line] CMgr::UnzipDownloadFile()   [extra] Upzip File Exist Failed \n"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.what);
        platform::DebugCapture capture;
        std::wstring unpacked = L"untouched";
        EXPECT_FALSE(UpDater::UnzipEntry(pkg, c.name, c.size, near, &unpacked));
        EXPECT_TRUE(capture.Contains(c.line)) << platform::ToUtf8(c.line);
        EXPECT_EQ(unpacked, L"untouched");
        EXPECT_EQ(listing(), "./pkg.zip\n");
    }

    std::wstring first, second;
    ASSERT_TRUE(UpDater::UnzipEntry(pkg, L"app.bin", 11, near, &first));
    ASSERT_TRUE(UpDater::UnzipEntry(pkg, L"app.bin", 11, near, &second));
    EXPECT_NE(first, second);  // a new name each time, never the predictable one
    EXPECT_EQ(first.rfind(near + L".orvo-", 0), 0u) << platform::ToUtf8(first);
    EXPECT_EQ(ReadFile(platform::ToUtf8(first)), "the program");
    EXPECT_EQ(orvo::test::Run("test -x '" + platform::ToUtf8(first) + "'"), 0);  // still a program
    std::string out;
    orvo::test::Run("cd '" + (dir / "Temp") + "' && ls", &out);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 3) << out;  // the package and the two files only
    EXPECT_EQ(orvo::test::Run("cd '" + (dir / "Temp") + "' && ls app.bin.orvo-*.tmp >/dev/null"), 0) << out;
}
#endif
