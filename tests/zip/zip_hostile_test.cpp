// Broken and hostile archives: each is refused with its cause, and nothing is written
// outside the target folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "platform/strings.h"
#include "support/test_env.h"
#include "support/zip_builder.h"
#include "zip/ZipArchive.h"

using namespace orvo::test;
namespace fs = std::filesystem;

namespace {

std::set<std::string> FilesOutside(const std::string& root, const std::string& inside) {
    std::set<std::string> out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const std::string rel = fs::relative(it->path(), root).generic_string();
        if (rel != inside && rel.rfind(inside + "/", 0) != 0) out.insert(rel);
    }
    return out;
}

void Patch32(std::string& bytes, size_t at, uint32_t value) {
    std::string v;
    Put32(v, value);
    bytes.replace(at, 4, v);
}

ZipEntryDef Entry(std::string name, std::string data = "payload") { return ZipEntry(std::move(name), std::move(data)); }

struct HostileCase {
    const char* name;
    std::function<std::string()> make;
    int cause;            // expected CZipException cause; 0 when none
    bool extractOk;       // expected result of every ExtractEntry when nothing is thrown
};

TEST(ZipHostile, RefusedWithTheirCauseAndNothingLeaksOut) {
    const std::string bigText(300000, 'z');
    const HostileCase cases[] = {
        {"end record cut short", [] { auto b = BuildZip({Entry("a.txt")}).bytes; b.resize(b.size() - 10); return b; },
         CZipException::cdirNotFound, true},
        {"file shorter than an end record", [] { return std::string("PK\x05\x06", 4); }, CZipException::cdirNotFound, true},
        {"no end record", [] { return std::string(5000, 'q'); }, CZipException::cdirNotFound, true},
        {"bytes cut from the data",
         [&] { auto b = BuildZip({Entry("a.txt", bigText)}).bytes; b.erase(60, 100); return b; },
         CZipException::badZipFile, true},
        {"bad local signature",
         [] { auto z = BuildZip({Entry("a.txt")}); z.bytes[z.localOffsets[0]] = 'X'; return z.bytes; },
         CZipException::badZipFile, true},
        {"bad central signature",
         [] { auto z = BuildZip({Entry("a.txt")}); z.bytes[z.centralOffset + 1] = 'X'; return z.bytes; },
         CZipException::badZipFile, true},
        {"crc mismatch", [] { auto e = Entry("a.txt"); e.crc = 0xDEADBEEF; return BuildZip({e}).bytes; },
         CZipException::badCrc, true},
        {"unknown method", [] { auto e = Entry("a.txt"); e.method = 12; e.rawData = "xyz"; return BuildZip({e}).bytes; },
         CZipException::badZipFile, true},
        {"local method differs", [] { auto e = Entry("a.txt"); e.localMethod = 0; return BuildZip({e}).bytes; },
         CZipException::badZipFile, true},
        {"encrypted", [] { auto e = Entry("a.txt"); e.flags = 1; e.method = 0; return BuildZip({e}).bytes; },
         CZipException::badPassword, true},
        {"stored sizes disagree",
         [] { auto e = Entry("a.txt"); e.method = 0; e.uncompressedSize = 3; return BuildZip({e}).bytes; },
         CZipException::badZipFile, true},
        {"corrupt deflate data",
         [] { auto e = Entry("a.txt"); e.rawData = std::string("\xFF\xFF\xFF\xFF", 4); return BuildZip({e}).bytes; },
         CZipException::dataError, true},
        {"descriptor disagrees",
         [] {
             auto e = Entry("a.txt");
             e.flags = 8;
             auto z = BuildZip({e});
             Patch32(z.bytes, z.localOffsets[0] + 30 + 5 + RawDeflate("payload").size() + 4, 0x12345678);
             return z.bytes;
         },
         CZipException::badZipFile, true},
        {"data ends before the declared size",
         [] { auto e = Entry("a.txt", std::string(100, 'x')); e.uncompressedSize = 200; return BuildZip({e}).bytes; },
         0, false},
        {"inflates past the declared size (bomb)",
         [] {
             const std::string zeros(20 << 20, '\0');
             auto e = Entry("bomb.bin", zeros);
             e.uncompressedSize = 1000;
             e.crc = Crc32Of(zeros.substr(0, 1000));
             return BuildZip({e}).bytes;
         },
         CZipException::sizeExceeded, true},
        {"two entries share one local header",
         [] { auto b = Entry("b.txt"); b.centralOffset = 0; return BuildZip({Entry("a.txt"), b}).bytes; },
         CZipException::badZipFile, true},
        {"entry points at the central directory",
         [] {
             auto z = BuildZip({Entry("a.txt")});
             Patch32(z.bytes, z.centralOffset + 42, static_cast<uint32_t>(z.centralOffset));
             return z.bytes;
         },
         CZipException::badZipFile, true},
        {"compressed size runs into the next entry",
         [] {
             auto z = BuildZip({Entry("a.txt"), Entry("b.txt")});
             Patch32(z.bytes, z.centralOffset + 20, 60);
             return z.bytes;
         },
         CZipException::badZipFile, true},
        {"parent folder", [] { return BuildZip({Entry("ok.txt"), Entry("../victim.txt")}).bytes; },
         CZipException::unsafeEntry, true},
        {"parent folder further in", [] { return BuildZip({Entry("a/../../victim.txt")}).bytes; },
         CZipException::unsafeEntry, true},
        {"backslash parent", [] { return BuildZip({Entry("..\\victim.txt")}).bytes; }, CZipException::unsafeEntry, true},
        {"absolute after the drive", [] { return BuildZip({Entry("C:/../victim.txt")}).bytes; },
         CZipException::unsafeEntry, true},
        {"stream syntax", [] { return BuildZip({Entry("a.txt:hidden")}).bytes; }, CZipException::unsafeEntry, true},
        {"NUL in the name", [] { return BuildZip({Entry(std::string("victim.txt\0.ok", 14))}).bytes; },
         CZipException::unsafeEntry, true},
        {"symbolic link",
         [] {
             auto e = Entry("link", "../victim.txt");
             e.externalAttr = 0120777u << 16;
             return BuildZip({e, Entry("link/x.txt")}).bytes;
         },
         CZipException::unsafeEntry, true},
        {"names differing only in case", [] { return BuildZip({Entry("Setup.dll"), Entry("setup.DLL")}).bytes; },
         CZipException::unsafeEntry, true},
        {"trailing dot aliases the file", [] { return BuildZip({Entry("x.dll"), Entry("x.dll.")}).bytes; },
         CZipException::unsafeEntry, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        WriteFile(dir / "victim.txt", "original");
        WriteFile(dir / "pkg/t.zip", c.make());
        MakeDirs(dir / "pkg/out");
        int cause = 0;
        bool ok = true;
        try {
            CZipArchive zip;
            zip.OpenArchive(platform::FromUtf8(dir / "pkg/t.zip"));
            for (int i = 0; i < zip.GetEntryCount(); ++i)
                ok = zip.ExtractEntry(i, platform::FromUtf8(dir / "pkg/out")) && ok;
        } catch (const CZipException& e) {
            cause = e.m_iCause;
            EXPECT_EQ(e.m_szFileName, platform::FromUtf8(dir / "pkg/t.zip"));
        }
        EXPECT_EQ(cause, c.cause);
        if (cause == 0) {
            EXPECT_EQ(ok, c.extractOk);
        }
        EXPECT_EQ(ReadFile(dir / "victim.txt"), "original");
        EXPECT_EQ(FilesOutside(dir.path(), "pkg/out"), (std::set<std::string>{"pkg", "pkg/t.zip", "victim.txt"}));
        if (cause == CZipException::unsafeEntry) {
            EXPECT_TRUE(fs::is_empty(dir / "pkg/out"));
        }
    }
}

TEST(ZipHostile, CrcMismatchIsRaisedAfterTheFileIsWritten) {
    TempDir dir;
    auto e = Entry("a.txt", "complete content");
    e.crc = 1;
    WriteFile(dir / "t.zip", BuildZip({e}).bytes);
    CZipArchive zip;
    zip.OpenArchive(platform::FromUtf8(dir / "t.zip"));
    try {
        zip.ExtractEntry(0, platform::FromUtf8(dir / "out"));
        FAIL() << "no exception";
    } catch (const CZipException& ex) {
        EXPECT_EQ(ex.m_iCause, CZipException::badCrc);
    }
    EXPECT_EQ(ReadFile(dir / "out/a.txt"), "complete content");
}

TEST(ZipHostile, BombStopsAtTheDeclaredSize) {
    TempDir dir;
    const std::string zeros(64 << 20, '\0');
    auto e = Entry("bomb.bin", zeros);
    e.uncompressedSize = 100000;
    e.crc = Crc32Of(zeros.substr(0, 100000));
    WriteFile(dir / "t.zip", BuildZip({e}).bytes);
    CZipArchive zip;
    zip.OpenArchive(platform::FromUtf8(dir / "t.zip"));
    EXPECT_THROW(zip.ExtractEntry(0, platform::FromUtf8(dir / "out")), CZipException);
    EXPECT_LE(fs::file_size(dir / "out/bomb.bin"), 100000u);
}

#ifndef _WIN32
// Links found inside the target folder (planted, or left there) are never written through: a
// linked folder refuses the entry as one that would leave the folder, a link at the entry's own
// name is replaced by the file. Archives made by the standard zip tool; Wine cannot make links.
TEST(ZipHostile, LinksInsideTheTargetFolderAreNeverFollowed) {
    TempDir dir;
    WriteFile(dir / "src/docs/readme.txt", "packed readme");
    WriteFile(dir / "src/notes.txt", "packed notes");
    ASSERT_EQ(orvo::test::Run("cd '" + (dir / "src") + "' && zip -qr '" + (dir / "docs.zip") + "' docs/readme.txt && zip -q '" +
                  (dir / "notes.zip") + "' notes.txt"),
              0);
    const struct {
        const char* what;
        const char* archive;
        const char* link;    // made inside the target folder, pointing at "elsewhere/<target>"
        const char* target;  // what the link points at, holding "outside"
        int cause;
    } cases[] = {
        {"linked folder on the way", "docs.zip", "docs", "docs", CZipException::unsafeEntry},
        {"link at the entry's name", "notes.zip", "notes.txt", "notes.txt", 0},
        {"dangling link at the entry's name", "notes.zip", "notes.txt", "missing.txt", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string out = dir / "out", elsewhere = dir / "elsewhere";
        orvo::test::Run("rm -rf '" + out + "' '" + elsewhere + "'");
        WriteFile(elsewhere + "/docs/readme.txt", "outside");
        WriteFile(elsewhere + "/notes.txt", "outside");
        MakeDirs(out);
        fs::create_symlink(elsewhere + "/" + c.target, out + "/" + c.link);
        CZipArchive zip;
        zip.OpenArchive(platform::FromUtf8(dir / c.archive));
        int cause = 0;
        try {
            EXPECT_TRUE(zip.ExtractEntry(0, platform::FromUtf8(out)));
        } catch (const CZipException& e) {
            cause = e.m_iCause;
        }
        EXPECT_EQ(cause, c.cause);
        EXPECT_EQ(ReadFile(elsewhere + "/docs/readme.txt"), "outside");
        EXPECT_EQ(ReadFile(elsewhere + "/notes.txt"), "outside");
        EXPECT_FALSE(Exists(elsewhere + "/missing.txt"));
        if (cause == 0) {
            EXPECT_FALSE(fs::is_symlink(out + "/notes.txt"));
            EXPECT_EQ(ReadFile(out + "/notes.txt"), "packed notes");
        }
    }
}
#endif

}  // namespace
