// Signed releases against the real OrvoUpdaterService.exe under Wine: the same keys, signatures
// (made by minisign, both forms) and refusals as on Linux. Each test runs a copy of the updater
// with its own trusted-keys.pub beside it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "support/update_world.h"
#include "wine/wine_run.h"

using namespace orvo::test;
using namespace orvo::test::wine;

namespace {

void Replace(std::string& text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
}

}  // namespace

class WineSigned : public UpdateWorld {
protected:
    void SetUp() override {
        if (WindowsBuild().empty()) GTEST_SKIP() << "no Windows build named by ORVO_WINDOWS_BUILD (scripts/wine-tests sets it)";
        if (std::getenv("WINEPREFIX") == nullptr) GTEST_SKIP() << "no WINEPREFIX: never run Wine in the user's own prefix";
        bin = m_root / "bin";
        MakeDirs(bin);
        ASSERT_EQ(orvo::test::Run("cp " + Quoted(WindowsBuild() + "/src/app/OrvoUpdaterService.exe") + " " + Quoted(bin)), 0);
        for (const char* k : {"a", "b", "c"})
            ASSERT_EQ(orvo::test::Run("minisign -G -W -p " + Quoted(Key(k) + ".pub") + " -s " + Quoted(Key(k) + ".key") +
                                      " </dev/null >/dev/null 2>&1"),
                      0);
        keyFile = bin + "/trusted-keys.pub";
        WriteFile(keyFile, ReadFile(Key("a") + ".pub"));
        target = ReadFile(WindowsBuild() + "/tests/orvo_wine_target.exe");
        ASSERT_FALSE(target.empty());
    }
    std::string InstallFolderValue() const override { return WinPath(installDir); }
    std::string Key(const std::string& k) const { return m_root / ("key-" + k); }

    std::vector<PublishedFile> Version(const std::string& v) const {
        return {{"app.exe", target}, {"readme.txt", "version " + v + " readme\n"}};
    }
    // Publishes with Sha256 and PackageSize on every file and rootXml at the root, signed by
    // the key named (none: unsigned; legacy "-l": the unhashed form). Returns the manifest.
    std::string PublishSigned(const std::vector<PublishedFile>& files, const std::string& rootXml, const std::string& key = "a",
                              const std::string& legacy = "") {
        Publish(files, rootXml);
        std::string xml = ReadFile(server.Root() + "/app.xml");
        for (const auto& f : files) {
            WriteFile(m_root / "content", f.content);
            std::string sum;
            orvo::test::Run("sha256sum " + Quoted(m_root / "content") + " | cut -c1-64", &sum);
            sum.resize(64);
            struct stat st {};
            ::stat(PackagePath(f).c_str(), &st);
            Replace(xml, "<OriFileName>" + f.name + "</OriFileName>",
                    "<OriFileName>" + f.name + "</OriFileName><Sha256>" + sum + "</Sha256><PackageSize>" +
                        std::to_string(st.st_size) + "</PackageSize>");
        }
        WriteFile(server.Root() + "/app.xml", xml);
        Sign(key, legacy);
        return xml;
    }
    void Sign(const std::string& key, const std::string& legacy = "") {
        ::unlink((server.Root() + "/app.xml.sig").c_str());
        if (key.empty()) return;
        ASSERT_EQ(orvo::test::Run("minisign -S " + legacy + " -W -s " + Quoted(Key(key) + ".key") + " -m " +
                                  Quoted(server.Root() + "/app.xml") + " -x " + Quoted(server.Root() + "/app.xml.sig") +
                                  " </dev/null >/dev/null 2>&1"),
                  0);
    }
    // Runs the copy of the updater to its end; its output goes through a file (a pipe would
    // stay open as long as the target it starts). A started target is waited for.
    int RunWine(std::string* out = nullptr) {
        ::unlink(Installed("starts").c_str());
        const std::string log = m_root / "run.log";
        const int rc = orvo::test::Run("cd " + Quoted(m_root.path()) + " && exec env ORVO_DEBUG=1 " + Wine() + " " +
                                       Quoted(bin + "/OrvoUpdaterService.exe") + " " + Quoted(manifestUrl) + " NULL app.exe -v >" +
                                       Quoted(log) + " 2>&1 </dev/null");
        if (rc == 0)
            for (int i = 0; i < 150 && !Exists(Installed("starts")); ++i) usleep(20000);
        if (out != nullptr) *out = ReadFile(log);
        return rc;
    }

    std::string bin, keyFile, target;
};

TEST_F(WineSigned, ToolSignedReleasesInstallInBothForms) {
    PublishSigned(Version("1"), "<Sequence>1</Sequence><Expires>2099-01-01T00:00:00Z</Expires>");
    std::string out;
    ASSERT_EQ(RunWine(&out), 0) << out;
    EXPECT_EQ(ReadFile(Installed("readme.txt")), "version 1 readme\n");
    EXPECT_EQ(ReadFile(Installed("app.xml")), ReadFile(server.Root() + "/app.xml"));

    // Key rotation: both keys trusted, the new one signs in the legacy form.
    WriteFile(keyFile, ReadFile(Key("a") + ".pub") + ReadFile(Key("b") + ".pub"));
    PublishSigned(Version("2"), "<Sequence>2</Sequence>", "b", "-l");
    ASSERT_EQ(RunWine(&out), 0) << out;
    EXPECT_EQ(ReadFile(Installed("readme.txt")), "version 2 readme\n");
}

TEST_F(WineSigned, RefusedReleasesLeaveTheInstalledVersionAsItWas) {
    PublishSigned(Version("1"), "<Sequence>1</Sequence>");
    ASSERT_EQ(RunWine(), 0);
    const std::string oldXml = ReadFile(server.Root() + "/app.xml"), oldSig = ReadFile(server.Root() + "/app.xml.sig");
    PublishSigned(Version("2"), "<Sequence>2</Sequence>");
    std::string out;
    ASSERT_EQ(RunWine(&out), 0) << out;
    const std::string installedXml = ReadFile(Installed("app.xml"));

    struct Case {
        const char* what;
        std::function<void()> publish;
        const char* expected;
    };
    const Case cases[] = {
        {"unsigned", [&] { PublishSigned(Version("3"), "<Sequence>3</Sequence>", ""); }, "no signature at"},
        {"signed by a key not trusted", [&] { PublishSigned(Version("3"), "<Sequence>3</Sequence>", "c"); }, "which is not trusted"},
        {"one byte changed after signing",
         [&] {
             PublishSigned(Version("3"), "<Sequence>3</Sequence>");
             std::string xml = ReadFile(server.Root() + "/app.xml");
             Replace(xml, "<Sequence>3", "<Sequence>4");
             WriteFile(server.Root() + "/app.xml", xml);
         },
         "does not match the data"},
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
             const std::string xml = PublishSigned(files, "<Sequence>3</Sequence>");
             const std::string sig = ReadFile(server.Root() + "/app.xml.sig");
             auto forged = files;
             forged[1].content = "version 3 README\n";  // same size, other bytes
             Publish(forged, "");
             ASSERT_EQ(::rename(PackagePath(forged[1]).c_str(), PackagePath(files[1]).c_str()), 0);
             WriteFile(server.Root() + "/app.xml", xml);
             WriteFile(server.Root() + "/app.xml.sig", sig);
         },
         "Upzip File Sha256 Failed"},
        // A link that leads nowhere cannot be made here: Wine hides such a link from every
        // Windows call (on Windows a link is a reparse point, seen as an entry).
        {"key file that is a looping link",
         [&] {
             PublishSigned(Version("3"), "<Sequence>3</Sequence>");
             ::unlink(keyFile.c_str());
             ASSERT_EQ(::symlink("trusted-keys.pub", keyFile.c_str()), 0);
         },
         "trusted-keys.pub: cannot be read"},
        {"key file that is a folder",
         [&] {
             PublishSigned(Version("3"), "<Sequence>3</Sequence>");
             ::unlink(keyFile.c_str());
             MakeDirs(keyFile);
         },
         "trusted-keys.pub: cannot be read"},
    };
    for (const auto& c : cases) {
        c.publish();
        std::string log;
        EXPECT_EQ(RunWine(&log), 1) << c.what << "\n" << log;
        EXPECT_NE(log.find(c.expected), std::string::npos) << c.what << "\n" << log;
        EXPECT_EQ(ReadFile(Installed("readme.txt")), "version 2 readme\n") << c.what;
        EXPECT_EQ(ReadFile(Installed("app.xml")), installedXml) << c.what;
        EXPECT_FALSE(Exists(Installed("starts"))) << c.what;
        orvo::test::Run("rm -rf " + Quoted(keyFile));
        WriteFile(keyFile, ReadFile(Key("a") + ".pub"));
    }
}
