#include <gtest/gtest.h>

#include "support/update_world.h"

using namespace orvo::test;

namespace {

std::string Bytes(const char* path) { return ReadFile(path); }

std::string Tag(const std::string& name, const std::string& value) { return "<" + name + ">" + value + "</" + name + ">"; }

std::string Reg(const std::string& path, const std::string& value, const std::string& type, const std::string& version) {
    return "<Item>" + Tag("Version", version) + Tag("RootPath", "HLM") + Tag("Path", path) + Tag("Value", value) +
           Tag("ValueType", type) + "</Item>";
}

std::string Shortcut(const std::string& source, const std::string& dest, const std::string& isUrl, const std::string& des) {
    return "<Item>" + Tag("Version", "1") + Tag("IsUrlType", isUrl) + Tag("SourcePath", source) + Tag("DestFolderPath", dest) +
           Tag("Des", des) + "</Item>";
}

}  // namespace

class SystemRun : public UpdateWorld {
protected:
    int Query(const std::string& args, std::string* out) {
        return orvo::test::Run(BuiltBinary("tools/orvo-reg/orvo-reg") + " query " + args + " 2>&1", out);
    }
};

// A manifest with files, a component, registry values, shortcuts and a firewall exception; then
// a manifest that drops some of them.
TEST_F(SystemRun, AllFourSectionsThenDroppedItems) {
    ScopedEnv log("ORVO_COMPONENT_LOG", m_root / "components.log");
    std::vector<PublishedFile> files = {
        {"app.sh", TargetScript("1"), "_INSTALL", true},
        {"libcompdep.so", Bytes(ORVO_FIXTURE_COMPDEP), "_INSTALL\\lib"},
        {"regcomp.so", Bytes(ORVO_FIXTURE_REGCOMP), "_INSTALL\\lib"},
        {"old.txt", "dropped in version two"},
    };
    files[2].regCom = true;
    const std::string shortcutsV1 =
        Shortcut("_INSTALL\\app.sh", "_INSTALL\\links\\Sample App.desktop", "0", "Runs \"the\" sample at 100%") +
        Shortcut("http://127.0.0.1/help", "_INSTALL\\links\\Help.desktop", "1", "Help pages") +
        Shortcut("_INSTALL\\app.sh", "_INSTALL\\links\\Old.desktop", "0", "goes away");
    const std::string registryV1 = Reg("Software\\OrvoTest\\App\\Mode", "fast", "STRING", "1") +
                                   Reg("Software\\OrvoTest\\App\\Level", "7", "DWORD", "1") +
                                   Reg("Software\\OrvoTest\\App\\Legacy", "kept", "STRING", "1") +
                                   Reg("Software\\OrvoTest\\App\\Data", "_INSTALL\\data\\files", "STRING", "1");
    auto manifest = [&](const std::string& registry, const std::string& shortcuts) {
        return "<RegistData>" + registry + "</RegistData><ShortcutData>" + shortcuts + "</ShortcutData><Firewall><Item>" +
               Tag("Version", "1") + Tag("Folder", "_INSTALL") + Tag("FileName", "app.sh") + Tag("AppName", "Sample App") +
               "</Item></Firewall>";
    };
    // The extra RegistData section comes after the one with the install folder; only the first
    // counts, so the values go into that one.
    Publish(files, "");
    std::string xml = ReadFile(server.Root() + "/app.xml");
    auto addSections = [&](const std::string& registry, const std::string& shortcuts) {
        std::string text = xml;
        text.replace(text.find("</RegistData>"), 13, registry + "</RegistData>");
        const std::string rest = manifest("", shortcuts);
        text.replace(text.find("</UpdateInfo>"), 13, rest.substr(rest.find("<ShortcutData>")) + "</UpdateInfo>");
        WriteFile(server.Root() + "/app.xml", text);
    };
    addSections(registryV1, shortcutsV1);

    std::string out;
    ASSERT_EQ(RunUpdater(&out), 0) << out;
    EXPECT_EQ(ReadFile(m_root / "components.log"), "load regcomp\nregister dep-beside-component\nunload regcomp\n");

    std::string q;
    ASSERT_EQ(Query("'HKLM\\Software\\OrvoTest\\App'", &q), 0);
    EXPECT_NE(q.find("    Mode    REG_SZ    fast\n"), std::string::npos) << q;
    EXPECT_NE(q.find("    Level    REG_DWORD    0x7\n"), std::string::npos) << q;
    // A resolved folder is stored with this system's separators, whatever the manifest wrote.
    EXPECT_NE(q.find("    Data    REG_SZ    " + Installed("data/files") + "\n"), std::string::npos) << q;
    q.clear();
    ASSERT_EQ(Query("'HKLM\\SYSTEM\\CurrentControlSet\\Services\\SharedAccess\\Parameters\\FirewallPolicy\\StandardProfile\\AuthorizedApplications\\List'", &q), 0) << q;
    EXPECT_NE(q.find(Installed("app.sh")), std::string::npos) << q;
    EXPECT_NE(q.find("Enabled:Sample App"), std::string::npos) << q;

    for (const char* link : {"Sample App.desktop", "Help.desktop", "Old.desktop"}) {
        const std::string path = Installed(std::string("links/") + link);
        ASSERT_TRUE(Exists(path)) << link;
        std::string v;
        EXPECT_EQ(orvo::test::Run("desktop-file-validate '" + path + "' 2>&1", &v), 0) << link << ": " << v;
    }
    EXPECT_NE(ReadFile(Installed("links/Help.desktop")).find("URL=http://127.0.0.1/help"), std::string::npos);
    const std::string entry = ReadFile(Installed("links/Sample App.desktop"));
    EXPECT_NE(entry.find("Exec=\"" + Installed("app.sh") + "\""), std::string::npos) << entry;
    EXPECT_EQ(entry.find('\\'), std::string::npos) << entry;

    // Version two drops a file, a shortcut and a registry value, and changes another value.
    files.pop_back();
    Publish(files, "");
    xml = ReadFile(server.Root() + "/app.xml");
    addSections(Reg("Software\\OrvoTest\\App\\Mode", "safe", "STRING", "2") + Reg("Software\\OrvoTest\\App\\Level", "7", "DWORD", "1"),
                shortcutsV1.substr(0, shortcutsV1.rfind("<Item>")));
    // A shortcut that differs from a kept one only in letter case is not the same file.
    WriteFile(Installed("links/sample app.desktop"), "stale");
    ASSERT_EQ(RunUpdater(&out), 0) << out;

    EXPECT_FALSE(Exists(Installed("old.txt")));
    EXPECT_FALSE(Exists(Installed("links/Old.desktop")));
    EXPECT_TRUE(Exists(Installed("links/Sample App.desktop")));
    EXPECT_TRUE(Exists(Installed("links/sample app.desktop")));  // never listed, so never removed
    q.clear();
    ASSERT_EQ(Query("'HKLM\\Software\\OrvoTest\\App'", &q), 0);
    EXPECT_NE(q.find("    Mode    REG_SZ    safe\n"), std::string::npos) << q;
    EXPECT_NE(q.find("    Legacy    REG_SZ    kept\n"), std::string::npos) << q;  // removed values stay
}

// A per-user installation with a firewall entry, where the machine hive cannot be written: the
// entry is listed in the user's hive and the run completes, so the next run has nothing to do.
TEST_F(SystemRun, PerUserInstallationWithAFirewallEntryCompletes) {
    WriteFile(sysroot() + "/var", "the machine's folders are out of reach");
    const std::vector<PublishedFile> files = {{"app.sh", TargetScript("1"), "_INSTALL", true}};
    Publish(files, "<Firewall><Item>" + Tag("Version", "1") + Tag("Folder", "_INSTALL") + Tag("FileName", "app.sh") +
                       Tag("AppName", "Sample App") + "</Item></Firewall>\n");
    std::string manifest = ReadFile(server.Root() + "/app.xml");
    const std::string machine = "<RootPath>HLM</RootPath>";
    manifest.replace(manifest.find(machine), machine.size(), "<RootPath>HCU</RootPath>");
    WriteFile(server.Root() + "/app.xml", manifest);

    std::string out;
    ASSERT_EQ(RunUpdater(&out), 0) << out;
    EXPECT_NE(out.find("entries go to the user's hive"), std::string::npos) << out;
    EXPECT_EQ(ReadFile(Installed("app.xml")), manifest);
    std::string q;
    ASSERT_EQ(Query("'HKCU\\SYSTEM\\CurrentControlSet\\Services\\SharedAccess\\Parameters\\FirewallPolicy\\StandardProfile\\AuthorizedApplications\\List'", &q), 0) << q;
    EXPECT_NE(q.find(installDir + "/app.sh:*:Enabled:Sample App"), std::string::npos) << q;
    EXPECT_EQ(Starts(), "[-v][two words]\n");

    ::unlink(Installed("starts").c_str());
    out.clear();
    ASSERT_EQ(RunUpdater(&out), 0) << out;
    EXPECT_EQ(out.find("Download"), std::string::npos) << out;  // nothing left to do
    EXPECT_EQ(Starts(), "[-v][two words]\n");
}
