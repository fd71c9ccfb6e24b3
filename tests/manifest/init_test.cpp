// Served by nginx, started as a POSIX process: Linux only.
#ifndef _WIN32
// Fetching the manifest from a real nginx on a loopback port and finding the install folder.
#include <gtest/gtest.h>

#include "manifest_fixture.h"
#include "manifest/WorkingFolder.h"
#include "platform/fs.h"
#include "support/nginx_server.h"

namespace orvo::test {
namespace {

using UpDater::CVersionBuilder;

struct InitCase {
    const char* what;
    std::string path;  // below the server root; empty: not published
    std::string body;
    std::string url;   // asked for
    bool ok;
    std::vector<std::wstring> lines;  // texts the debug output must hold
};

TEST_F(ManifestTest, InitDownloadsTheManifestAndFindsTheInstallFolder) {
    NginxServer web;
    web.AddDirectives("location = /dir/ { default_type text/xml; return 200 '<M><RegistData><I><Path>Install SZ</Path>"
                      "<ValueType>STRING</ValueType><Value>/slash</Value></I></RegistData></M>'; }");
    const std::string good = Doc(Tag("RegistData", RegXml("Software\\Orvo\\Install SZ", "/opt/app")) + Tag("UpdateData", FileXml("a")));
    const std::string cache = home() + "/.cache";
    const InitCase cases[] = {
        {"published manifest", "/m/update.xml", good, "/m/update.xml", true, {}},
        {"address ending in a slash", "", "", "/dir/", true, {}},
        {"not found", "", "", "/m/missing.xml", false, {L"[OVUSVC] [Error 122 line] CVersionBuilder::DownloadXml()  InitXml Download Failed \n"}},
        {"no install-folder entry", "/m/noentry.xml", Doc(Tag("RegistData", RegXml("Soft\\Other", "x"))), "/m/noentry.xml", false,
         {L"[OVUSVC] [Error 203 line] CVersionBuilder::Init_InstallRegPath() Parse Failed \n"}},
        {"malformed", "/m/broken.xml", "<M>\n<RegistData><I>", "/m/broken.xml", false,
         {L"[Error 170 line] CVersionBuilder::Init_InstallRegPath() [" + platform::NativeSeparators(W(cache) + L"\\" + UpDater::AddressWorkingFolder(W(web.Url("/m/broken.xml"))) + L"\\Temp_broken.xml") + L"] Xml Parse Failed: unexpected end of data at line 2 column 16"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (!c.path.empty()) {
            MakeDirs(web.Root() + "/m");
            WriteFile(web.Root() + c.path, c.body);
        }
        CVersionBuilder builder;
        platform::DebugCapture capture;
        EXPECT_EQ(builder.Init(W(web.Url(c.url))), c.ok);
        for (const auto& line : c.lines) EXPECT_TRUE(capture.Contains(line)) << (capture.Lines().empty() ? "" : U(capture.Lines()[0]));
        const std::wstring name = c.url.back() == '/' ? L"" : W(c.url.substr(c.url.rfind('/') + 1));
        EXPECT_EQ(builder.m_strInitXmlUrl, W(web.Url(c.url)));
        EXPECT_EQ(builder.m_strXmlName, name);
        // Each address works in a folder of its own.
        const std::wstring work = platform::NativeSeparators(W(cache) + L"\\" + UpDater::AddressWorkingFolder(W(web.Url(c.url))));
        EXPECT_EQ(work.substr(0, work.size() - 16), platform::NativeSeparators(W(cache) + L"\\TALVEN\\Update\\"));
        EXPECT_EQ(builder.m_strUpdateFolder, work);
        EXPECT_EQ(builder.m_strTempXmlPath, platform::NativeSeparators(work + L"\\Temp_" + name));
        EXPECT_EQ(builder.m_strTempFolder, platform::NativeSeparators(work + L"\\Temp"));
        if (c.ok) {
            EXPECT_TRUE(capture.Lines().empty());
            EXPECT_TRUE(platform::PathExists(builder.m_strTempXmlPath));
            const std::wstring folder = c.path.empty() ? L"/slash" : L"/opt/app";
            EXPECT_EQ(builder.m_strInstallPath, folder);
            EXPECT_EQ(builder.m_strInstallXmlPath, platform::NativeSeparators(folder + L"\\" + name));
        }
    }
}

TEST_F(ManifestTest, InitFailsWithoutAPerUserDataFolder) {
    WriteFile(m_root / "blocker", "a file where a folder should be");
    ScopedEnv cache("XDG_CACHE_HOME", m_root / "blocker/cache");
    CVersionBuilder builder;
    platform::DebugCapture capture;
    EXPECT_FALSE(builder.Init(L"http://127.0.0.1:1/update.xml"));
    EXPECT_TRUE(capture.Contains(L"[OVUSVC] [Error 95 line] CVersionBuilder::Init()  App Folder Find Failed \n"));
    EXPECT_EQ(builder.m_strXmlName, L"update.xml");
    EXPECT_TRUE(builder.m_strTempXmlPath.empty());
}

}  // namespace
}  // namespace orvo::test
#endif
