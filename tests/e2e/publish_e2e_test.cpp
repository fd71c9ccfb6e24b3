// A vendor's road: two releases made with orvo-publish, signed, installed and updated by the
// real updater, which fetches only what changed.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/published_release.h"

using namespace orvo::test;

TEST_F(PublishedRelease, InstallThenUpdateFetchesOnlyChangedPackages) {
    MakeDirs(m_root / "build/lib");
    WriteFile(m_root / "build/app.sh", TargetScript("1"));
    ::chmod((m_root / "build/app.sh").c_str(), 0755);
    WriteFile(m_root / "build/lib/core.dat", std::string(200000, 'c'));
    WriteFile(m_root / "build/readme.txt", "version one\n");
    Release("v1");
    std::string out;
    ASSERT_EQ(RunUpdater(&out), 0) << out;
    EXPECT_EQ(ReadFile(Installed("lib/core.dat")), std::string(200000, 'c'));
    EXPECT_EQ(Starts(), "[-v][two words]\n");  // still a program

    WriteFile(m_root / "build/readme.txt", "version two\n");
    Release("v2", m_root / "v1/app.xml");
    orvo::test::Run("truncate -s 0 '" + (m_root / "access.log") + "'");
    ::unlink(Installed("starts").c_str());
    ASSERT_EQ(RunUpdater(&out), 0) << out;
    // What a person reads while it downloads names the file, not its content address.
    EXPECT_NE(out.find("1/1 downloading readme.txt.zip.."), std::string::npos) << out;
    EXPECT_EQ(ReadFile(Installed("readme.txt")), "version two\n");
    EXPECT_EQ(ReadFile(Installed("app.xml")), ReadFile(m_root / "v2/app.xml"));
    EXPECT_EQ(Starts(), "[-v][two words]\n");

    std::string fetched;
    orvo::test::Run("grep -o 'GET /rel/[^ ]*' '" + (m_root / "access.log") + "' | sort", &fetched);
    std::string readmePackage;
    orvo::test::Run("grep -o '/rel/pkg/[0-9a-f]*/readme.txt.zip</DownloadUrl><OriFileName>readme.txt' '" + (m_root / "v2/app.xml") +
                        "' | cut -d'<' -f1",
                    &readmePackage);
    EXPECT_EQ(fetched, "GET /rel/app.xml\nGET /rel/app.xml.sig\nGET " + readmePackage) << fetched;
}

// Installed as a shared package (below /usr), the updater keeps nothing beside itself: the
// vendor's key comes from the machine's key folder and the skin goes into the user's cache.
TEST_F(PublishedRelease, SharedInstallTakesMachineKeysAndKeepsTheSkinInTheUsersCache) {
    const std::string usrBin = sysroot() + "/usr/bin";
    const std::string keyFolder = sysroot() + "/etc/OrvoUpdaterService/trusted-keys.d";
    MakeDirs(usrBin);
    MakeDirs(keyFolder);
    updaterExe = usrBin + "/OrvoUpdaterService";
    ASSERT_EQ(orvo::test::Run("cp '" + BuiltBinary("src/app/OrvoUpdaterService") + "' '" + updaterExe + "'"), 0);
    WriteFile(m_root / "skin.html", "<html>the vendor's skin</html>");
    WriteFile(m_root / "release.toml", ReadFile(m_root / "release.toml") + "[skin]\nfile = '" + (m_root / "skin.html") + "'\n");
    MakeDirs(m_root / "build");
    WriteFile(m_root / "build/app.sh", TargetScript("1"));
    ::chmod((m_root / "build/app.sh").c_str(), 0755);
    Release("v1");
    ScopedEnv terminal("ORVO_FRONTEND", std::string("terminal"));

    // Another vendor's key only: the signed release is refused, nothing is installed.
    EXPECT_EQ(orvo::test::Run(BuiltBinary("tools/orvo-publish/orvo-publish") + " keygen --out '" + (m_root / "other") + "'"), 0);
    WriteFile(keyFolder + "/other.pub", ReadFile(m_root / "other.pub"));
    std::string out;
    EXPECT_EQ(RunUpdater(&out), 1) << out;
    EXPECT_FALSE(Exists(Installed("app.sh")));

    WriteFile(keyFolder + "/vendor.pub", ReadFile(m_root / "vendor.pub"));
    ASSERT_EQ(RunUpdater(&out), 0) << out;
    EXPECT_EQ(ReadFile(Installed("app.sh")), TargetScript("1"));
    std::string skins;
    orvo::test::Run("cat \"$XDG_CACHE_HOME\"/TALVEN/Update/Skin/app.xml-*/skin.html", &skins);
    EXPECT_EQ(skins, "<html>the vendor's skin</html>");
    EXPECT_FALSE(Exists(usrBin + "/Skin"));
}
