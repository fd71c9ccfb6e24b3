// UnzipFile: a package is unpacked next to itself, or refused with one diagnostic line.
#include <gtest/gtest.h>

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
