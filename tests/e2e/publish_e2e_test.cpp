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
    EXPECT_EQ(ReadFile(Installed("readme.txt")), "version two\n");
    EXPECT_EQ(ReadFile(Installed("app.xml")), ReadFile(m_root / "v2/app.xml"));
    EXPECT_EQ(Starts(), "[-v][two words]\n");

    std::string fetched;
    orvo::test::Run("grep -o 'GET /rel/[^ ]*' '" + (m_root / "access.log") + "' | sort", &fetched);
    std::string readmePackage;
    orvo::test::Run("grep -o '/rel/pkg/[0-9a-f]*.zip</DownloadUrl><OriFileName>readme.txt' '" + (m_root / "v2/app.xml") +
                        "' | cut -d'<' -f1",
                    &readmePackage);
    EXPECT_EQ(fetched, "GET /rel/app.xml\nGET /rel/app.xml.sig\nGET " + readmePackage) << fetched;
}
