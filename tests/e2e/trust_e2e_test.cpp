// Signed releases end to end: the real updater, with keys trusted beside it, against nginx and
// the fault server. Every refused release leaves the installed version exactly as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <functional>

#include "support/fault_server.h"
#include "support/update_world.h"
#include "trust/Crypto.h"

using namespace orvo::test;

namespace {

std::vector<PublishedFile> Version(const std::string& v) {
    return {
        {"app.sh", UpdateWorld::TargetScript(v), "_INSTALL", true},
        {"readme.txt", "version " + v + " readme\n"},
        {"core.dat", std::string(70000, 'c') + v, "_INSTALL\\data"},
    };
}

std::string Sha256Hex(const std::string& data) {
    trust::crypto::Sha256 sha;
    sha.Update({reinterpret_cast<const uint8_t*>(data.data()), data.size()});
    return sha.FinalHex();
}

void Replace(std::string& text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
}

}  // namespace

class SignedUpdate : public UpdateWorld {
protected:
    SignedUpdate() {
        // A copy of the updater, so that the keys beside it concern this test alone.
        const std::string bin = m_root / "bin";
        MakeDirs(bin);
        updaterExe = bin + "/OrvoUpdaterService";
        orvo::test::Run("cp '" + BuiltBinary("src/app/OrvoUpdaterService") + "' '" + updaterExe + "'");
        for (const char* k : {"a", "b", "c"}) {
            const std::string base = m_root / (std::string("key-") + k);
            orvo::test::Run("minisign -G -W -p '" + base + ".pub' -s '" + base + ".key' </dev/null >/dev/null 2>&1");
        }
        keyFile = bin + "/trusted-keys.pub";
        WriteFile(keyFile, ReadFile(Key("a") + ".pub"));
    }
    std::string Key(const std::string& k) const { return m_root / ("key-" + k); }

    // Publishes a version with Sha256 (and PackageSize unless left out) on every file and
    // rootXml at the root, signed by the key named (none: unsigned). Returns the manifest.
    std::string PublishSigned(const std::vector<PublishedFile>& files, const std::string& rootXml, const std::string& key = "a",
                              bool packageSize = true, const std::string& legacy = "") {
        Publish(files, rootXml);
        std::string xml = ReadFile(server.Root() + "/app.xml");
        for (const auto& f : files) {
            struct stat st {};
            ::stat(PackagePath(f).c_str(), &st);
            std::string extra = "<Sha256>" + Sha256Hex(f.content) + "</Sha256>";
            if (packageSize) extra += "<PackageSize>" + std::to_string(st.st_size) + "</PackageSize>";
            Replace(xml, "<OriFileName>" + f.name + "</OriFileName>", "<OriFileName>" + f.name + "</OriFileName>" + extra);
        }
        WriteFile(server.Root() + "/app.xml", xml);
        Sign(key, legacy);
        return xml;
    }
    void Sign(const std::string& key, const std::string& legacy = "") {
        ::unlink((server.Root() + "/app.xml.sig").c_str());
        if (key.empty()) return;
        ASSERT_EQ(orvo::test::Run("minisign -S " + legacy + " -W -s '" + Key(key) + ".key' -m '" + server.Root() +
                                  "/app.xml' -x '" + server.Root() + "/app.xml.sig' </dev/null >/dev/null 2>&1"),
                  0);
    }

    // A signed release whose readme package comes from a server that never stops sending.
    void PublishEndless(const std::vector<PublishedFile>& files, bool packageSize, const std::string& endlessUrl) {
        std::string xml = PublishSigned(files, "<Sequence>3</Sequence>", "", packageSize);
        Replace(xml, server.Url("/pkg/" + ContentId(files[1])), endlessUrl);
        WriteFile(server.Root() + "/app.xml", xml);
        Sign("a");
    }

    // The install folder the manifests name (empty: the test's install folder).
    std::string InstallFolderValue() const override { return installFolderValue.empty() ? installDir : installFolderValue; }

    int Swap(const std::string& local, std::string* out) {
        return orvo::test::Run("env ORVO_DEBUG=1 '" + updaterExe + "' '" + manifestUrl + "||" + local + "' 2>&1", out);
    }

    std::string keyFile;
    std::string installFolderValue;
};

TEST_F(SignedUpdate, SignedReleasesInstallAndRotatedKeysAreAccepted) {
    PublishSigned(Version("1"), "<Sequence>1</Sequence><Expires>2099-01-01T00:00:00Z</Expires>");
    std::string out;
    ASSERT_EQ(RunUpdater(&out), 0) << out;
    EXPECT_EQ(ReadFile(Installed("readme.txt")), "version 1 readme\n");
    EXPECT_EQ(ReadFile(Installed("app.xml")), ReadFile(server.Root() + "/app.xml"));
    EXPECT_EQ(Starts(), "[-v][two words]\n");

    // The vendor rotates to key b: both trusted for a while; a legacy-format signature by b.
    WriteFile(keyFile, ReadFile(Key("a") + ".pub") + ReadFile(Key("b") + ".pub"));
    PublishSigned(Version("2"), "<Sequence>2</Sequence>", "b", true, "-l");
    ASSERT_EQ(RunUpdater(&out), 0) << out;
    EXPECT_EQ(ReadFile(Installed("readme.txt")), "version 2 readme\n");
    EXPECT_EQ(ReadFile(Installed("data/core.dat")), std::string(70000, 'c') + "2");
}

TEST_F(SignedUpdate, RefusedReleasesLeaveTheInstalledVersionAsItWas) {
    PublishSigned(Version("1"), "<Sequence>1</Sequence>");
    ASSERT_EQ(RunUpdater(), 0);
    const std::string oldXml = ReadFile(server.Root() + "/app.xml"), oldSig = ReadFile(server.Root() + "/app.xml.sig");
    PublishSigned(Version("2"), "<Sequence>2</Sequence>");
    std::string out;
    ASSERT_EQ(RunUpdater(&out), 0) << out;
    const std::string installedXml = ReadFile(Installed("app.xml"));
    ::unlink(Installed("starts").c_str());

    FaultServer endless([](FaultConnection& c) {
        if (!c.ReadRequest()) return;
        c.Send("HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nConnection: close\r\n\r\n");
        while (c.SendPattern(1 << 20)) {
        }
    });
    const std::string realUrl = manifestUrl;
    struct Case {
        const char* what;
        std::function<void()> publish;
        const char* expected;
    };
    const Case cases[] = {
        {"unsigned", [&] { PublishSigned(Version("3"), "<Sequence>3</Sequence>", ""); }, "no signature at"},
        {"signed by a key not trusted", [&] { PublishSigned(Version("3"), "<Sequence>3</Sequence>", "c"); }, "which is not trusted"},
        {"one byte flipped after signing",
         [&] {
             PublishSigned(Version("3"), "<Sequence>3</Sequence>");
             std::string xml = ReadFile(server.Root() + "/app.xml");
             Replace(xml, "<Sequence>3", "<Sequence>4");
             WriteFile(server.Root() + "/app.xml", xml);
         },
         "does not match the data"},
        {"key file that names no usable key",
         [&] {
             PublishSigned(Version("3"), "<Sequence>3</Sequence>");
             WriteFile(keyFile, ReadFile(Key("a") + ".pub") + "RWQnot-a-key\n");
         },
         "trusted-keys.pub line 3"},
        {"older release from the install folder it named then",
         [&] {
             installFolderValue = m_root / "moved";
             PublishSigned(Version("1"), "<Sequence>1</Sequence>");
             installFolderValue.clear();
         },
         "Sequence 1 is older than the release applied last (2)"},
        {"key file that is a pipe nobody writes to",
         [&] {
             PublishSigned(Version("3"), "<Sequence>3</Sequence>", "");
             ::unlink(keyFile.c_str());
             ASSERT_EQ(::mkfifo(keyFile.c_str(), 0644), 0);
         },
         "Manifest Refused"},
        {"key file that is a link to nothing",
         [&] {
             PublishSigned(Version("3"), "<Sequence>3</Sequence>", "");
             ::unlink(keyFile.c_str());
             ASSERT_EQ(::symlink("no-such-file", keyFile.c_str()), 0);
         },
         "Manifest Refused"},
        {"older release replayed",
         [&] {
             WriteFile(server.Root() + "/app.xml", oldXml);
             WriteFile(server.Root() + "/app.xml.sig", oldSig);
         },
         "Sequence 1 is older than the release applied last (2)"},
        {"expired", [&] { PublishSigned(Version("3"), "<Sequence>3</Sequence><Expires>2020-01-01T00:00:00Z</Expires>"); },
         "expired at 2020-01-01T00:00:00Z"},
        {"package swapped for another valid zip",
         [&] {
             auto files = Version("3");
             const std::string xml = PublishSigned(files, "<Sequence>3</Sequence>", "a", false);
             const std::string sig = ReadFile(server.Root() + "/app.xml.sig");
             auto forged = files;
             forged[1].content = "version 3 README\n";  // same size, other bytes
             Publish(forged, "");
             ASSERT_EQ(::rename(PackagePath(forged[1]).c_str(), PackagePath(files[1]).c_str()), 0);
             WriteFile(server.Root() + "/app.xml", xml);
             WriteFile(server.Root() + "/app.xml.sig", sig);
         },
         "Upzip File Sha256 Failed"},
        {"package body that never ends",
         [&] { PublishEndless(Version("3"), true, endless.Url("/pkg")); }, "Too Large"},
        {"package body that never ends, capped by FileSize alone",
         [&] { PublishEndless(Version("3"), false, endless.Url("/pkg")); }, "Too Large"},
        {"manifest body that never ends", [&] { manifestUrl = endless.Url("/app.xml"); }, "InitXml Download Failed"},
    };
    for (const auto& c : cases) {
        c.publish();
        std::string log;
        EXPECT_EQ(RunUpdater(&log), 1) << c.what << "\n" << log;
        EXPECT_NE(log.find(c.expected), std::string::npos) << c.what << "\n" << log;
        EXPECT_EQ(ReadFile(Installed("readme.txt")), "version 2 readme\n") << c.what;
        EXPECT_EQ(ReadFile(Installed("data/core.dat")), std::string(70000, 'c') + "2") << c.what;
        EXPECT_EQ(ReadFile(Installed("app.xml")), installedXml) << c.what;
        EXPECT_FALSE(Exists(Installed("starts"))) << c.what;
        EXPECT_FALSE(Exists(m_root / "moved")) << c.what;
        manifestUrl = realUrl;
        ::unlink(keyFile.c_str());
        WriteFile(keyFile, ReadFile(Key("a") + ".pub"));
    }
}

// The skin package is checked like every package before anything of it is unpacked, and its
// download is capped: a package swapped on the server never reaches the skin folder.
TEST_F(SignedUpdate, SkinPackagesAreCheckedBeforeUnpackingAndCapped) {
    const std::string page = "<html>skin one</html>", skinFolder = m_root / "bin/Skin";
    auto zip = [&](const std::string& name, const std::vector<std::pair<std::string, std::string>>& entries) {
        const std::string stage = m_root / ("skin-" + name);
        for (const auto& [entry, content] : entries) WriteFile(stage + "/" + entry, content);
        MakeDirs(server.Root() + "/skin");
        EXPECT_EQ(orvo::test::Run("cd '" + stage + "' && zip -q -X '" + server.Root() + "/skin/" + name + "' *"), 0);
        return ReadFile(server.Root() + "/skin/" + name);
    };
    const std::string good = zip("good.zip", {{"movie.html", page}});
    // A page of the same size and a program beside it.
    const std::string forged = zip("forged.zip", {{"movie.html", "<html>skin ONE</html>"}, {"run-me.sh", "#!/bin/sh\necho owned\n"}});
    FaultServer endless([](FaultConnection& c) {
        if (!c.ReadRequest()) return;
        c.Send("HTTP/1.1 200 OK\r\nContent-Type: application/zip\r\nConnection: close\r\n\r\n");
        c.SendPattern(64ull << 20);
    });
    auto skinXml = [&](const std::string& url, const std::string& packageFields) {
        return "<Skin><FileHash>" + Sha256Hex(page) + "</FileHash><DownloadUrl>" + url + "</DownloadUrl><OriFileName>movie.html" +
               "</OriFileName><FileSize>" + std::to_string(page.size()) + "</FileSize>" + packageFields + "</Skin>";
    };
    const std::string sha = "<Sha256>" + Sha256Hex(good) + "</Sha256>", size = "<PackageSize>" + std::to_string(good.size()) + "</PackageSize>";
    const struct Case {
        const char* what;
        std::string url, fields, served;  // served: the bytes at the skin address
        const char* expected;             // nullptr: the skin is shown
    } cases[] = {
        {"swapped, Sha256 given", server.Url("/skin/s.zip"), sha, forged, "Skin Package Refused: Sha256 differs"},
        {"swapped for a longer one, PackageSize given", server.Url("/skin/s.zip"), sha + size, forged, "Too Large"},
        {"cut short, PackageSize given", server.Url("/skin/s.zip"), sha + size, good.substr(0, good.size() - 1),
         "Skin Package Refused: not the size announced"},
        {"swapped, only the signed FileHash", server.Url("/skin/s.zip"), "", forged, "the movie's SHA-256 differs from FileHash"},
        {"never ends, PackageSize given", endless.Url("/skin.zip"), sha + size, "", "Too Large"},
        {"never ends, capped by FileSize", endless.Url("/skin.zip"), "", "", "Too Large"},
        {"the published package", server.Url("/skin/s.zip"), sha + size, good, nullptr},
    };
    int sequence = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        orvo::test::Run("rm -rf '" + skinFolder + "'");
        WriteFile(server.Root() + "/skin/s.zip", c.served);
        ++sequence;
        PublishSigned(Version(std::to_string(sequence)), "<Sequence>" + std::to_string(sequence) + "</Sequence>" + skinXml(c.url, c.fields));
        std::string out;
        EXPECT_EQ(RunUpdater(&out), 0) << out;
        EXPECT_EQ(ReadFile(Installed("readme.txt")), "version " + std::to_string(sequence) + " readme\n");
        EXPECT_FALSE(Exists(skinFolder + "/run-me.sh"));
        std::string left;
        orvo::test::Run("du -sk '" + skinFolder + "' 2>/dev/null | cut -f1", &left);
        EXPECT_LE(std::atol(left.c_str()), 2048) << "KiB in the skin folder";
        if (c.expected != nullptr) {
            EXPECT_NE(out.find(c.expected), std::string::npos) << out;
            EXPECT_FALSE(Exists(skinFolder + "/movie.html"));
        } else {
            EXPECT_EQ(ReadFile(skinFolder + "/movie.html"), page);
            EXPECT_EQ(out.find("Skin UI"), std::string::npos) << out;
        }
    }
}

// What was verified is what is planned and kept: neither another suite whose manifest has the
// same file name, nor anything rewriting the working copies mid-run, changes the installed copy;
// and removals are never planned from a copy this updater did not install for this address.
TEST_F(SignedUpdate, OnlyTheVerifiedManifestIsPlannedAndKept) {
    PublishSigned(Version("1"), "<Sequence>1</Sequence>");
    ASSERT_EQ(RunUpdater(), 0);

    // The other suite: unsigned, its own updater (no keys), its manifest also "app.xml"; its run
    // stops at its package, leaving its working copy behind.
    const std::string otherXml = "<?xml version=\"1.0\"?>\n<UpdateInfo><UpdateData><Item><DownloadUrl>" + server.Url("/none.zip") +
                                 "</DownloadUrl><OriFileName>x</OriFileName><FileSize>1</FileSize><Folder>_INSTALL</Folder></Item>"
                                 "</UpdateData><RegistData><Item><RootPath>HLM</RootPath><Path>Software\\Other\\INSTALL SZ</Path>"
                                 "<Value>" + (m_root / "other") + "</Value><ValueType>STRING</ValueType></Item></RegistData></UpdateInfo>\n";
    MakeDirs(server.Root() + "/other");
    WriteFile(server.Root() + "/other/app.xml", otherXml);
    const std::string otherRun = "env ORVO_DEBUG=1 '" + BuiltBinary("src/app/OrvoUpdaterService") + "' " + server.Url("/other/app.xml") +
                                 " NULL app.sh >/dev/null 2>&1";

    auto v2 = Version("2");
    const std::string signedXml = PublishSigned(v2, "<Sequence>2</Sequence>");
    const std::string readmeZip = ReadFile(PackagePath(v2[1]));
    std::atomic<int> otherRuns{0};
    FaultServer readme([&](FaultConnection& c) {
        if (!c.ReadRequest()) return;
        otherRuns += orvo::test::Run(otherRun) == 1 ? 1 : 0;
        // Whatever else may write below the working folders.
        orvo::test::Run("find '" + home() + "/.cache/TALVEN' -name 'Temp_app.xml' -exec sh -c 'cat \"" + server.Root() +
                        "/other/app.xml\" > \"$1\"' _ {} \\;");
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(readmeZip.size()) + "\r\nConnection: close\r\n\r\n" + readmeZip);
    });
    std::string xml = signedXml;
    Replace(xml, server.Url("/pkg/" + ContentId(v2[1])), readme.Url("/pkg/" + ContentId(v2[1])));
    WriteFile(server.Root() + "/app.xml", xml);
    Sign("a");
    std::string out;
    ASSERT_EQ(RunUpdater(&out), 0) << out;
    EXPECT_EQ(otherRuns.load(), 1);
    EXPECT_EQ(ReadFile(Installed("readme.txt")), "version 2 readme\n");
    EXPECT_EQ(ReadFile(Installed("app.xml")), xml);

    // A copy someone else put in the install folder names a document of the user's: the next
    // signed release plans everything and removes nothing.
    const std::string document = m_root / "docs/notes.txt";
    WriteFile(document, "the user's notes\n");
    std::string planted = xml;
    Replace(planted, "</UpdateData>", "<Item><FileHash>n</FileHash><DownloadUrl>" + server.Url("/pkg/n.zip") +
                                          "</DownloadUrl><OriFileName>notes.txt</OriFileName><FileSize>17</FileSize><Folder>" +
                                          (m_root / "docs") + "</Folder></Item></UpdateData>");
    WriteFile(Installed("app.xml"), planted);
    PublishSigned(Version("3"), "<Sequence>3</Sequence>");
    ASSERT_EQ(RunUpdater(&out), 0) << out;
    EXPECT_EQ(ReadFile(document), "the user's notes\n");
    EXPECT_NE(out.find("is not the copy this updater installed"), std::string::npos) << out;
    EXPECT_EQ(ReadFile(Installed("readme.txt")), "version 3 readme\n");
    EXPECT_EQ(ReadFile(Installed("app.xml")), ReadFile(server.Root() + "/app.xml"));
}

// The manifest swap takes the working copy only where a run would: from a folder that is this
// user's alone and, with a key trusted, signed by it and not older than the release applied.
TEST_F(SignedUpdate, SwapModeHoldsTheWorkingCopyToTheChecksOfARun) {
    PublishSigned(Version("1"), "<Sequence>1</Sequence>");
    ASSERT_EQ(RunUpdater(), 0);
    const std::string older = ReadFile(server.Root() + "/app.xml"), olderSig = ReadFile(server.Root() + "/app.xml.sig");
    PublishSigned(Version("2"), "<Sequence>2</Sequence>");
    ASSERT_EQ(RunUpdater(), 0);
    PublishSigned(Version("3"), "<Sequence>3</Sequence>");
    const std::string newer = ReadFile(server.Root() + "/app.xml"), newerSig = ReadFile(server.Root() + "/app.xml.sig");

    const std::string local = m_root / "local/app.xml";
    // Where this updater keeps the copy, and where updaters kept it before working folders were
    // kept apart per address.
    const std::string update = home() + "/.cache/TALVEN/Update";
    auto plant = [&](const std::string& xml, const std::string& sigText) {
        for (const std::string& folder : {WorkFolder(), update}) {
            WriteFile(folder + "/Temp_app.xml", xml);
            ::unlink((folder + "/Temp_app.xml.sig").c_str());
            if (!sigText.empty()) WriteFile(folder + "/Temp_app.xml.sig", sigText);
        }
    };
    std::string unsignedXml = newer;
    Replace(unsignedXml, "<Sequence>3</Sequence>", "<Sequence>4</Sequence>");
    const struct Case {
        const char* what;
        std::string xml, sig;
        std::function<void()> prepare;
        const char* refused;  // nullptr: swapped in
    } cases[] = {
        {"unsigned copy", unsignedXml, "", [] {}, "no signature for the manifest"},
        {"copy changed after signing", unsignedXml, newerSig, [] {}, "does not match the data"},
        {"older release", older, olderSig, [] {}, "Sequence 1 is older than the release applied last (2)"},
        {"folder other users can write", newer, newerSig, [&] { ::chmod(update.c_str(), 0777); }, "Working Folder Refused: writable by other users"},
        {"signed copy", newer, newerSig, [] {}, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(local, "local copy\n");
        plant(c.xml, c.sig);
        c.prepare();
        std::string out;
        EXPECT_EQ(Swap(local, &out), 0) << out;
        ::chmod(update.c_str(), 0700);
        if (c.refused != nullptr) {
            EXPECT_NE(out.find(c.refused), std::string::npos) << out;
            EXPECT_EQ(ReadFile(local), "local copy\n");
        } else {
            EXPECT_EQ(ReadFile(local), newer);
            EXPECT_FALSE(Exists(WorkFolder() + "/Temp_app.xml"));
        }
    }
}
