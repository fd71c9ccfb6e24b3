// Signed releases end to end: the real updater, with keys trusted beside it, against nginx and
// the fault server. Every refused release leaves the installed version exactly as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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

    std::string keyFile;
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
        manifestUrl = realUrl;
        ::unlink(keyFile.c_str());
        WriteFile(keyFile, ReadFile(Key("a") + ".pub"));
    }
}
