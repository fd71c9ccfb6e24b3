// Finding the install folder and planning an update against the installed manifest, with a
// real registry store and real files in an isolated folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <random>

#include "manifest/ManifestXml.h"
#include "manifest/RegValue.h"
#include "manifest_fixture.h"
#include "platform/folders.h"
#include "platform/fs.h"
#include "platform/registry.h"

namespace orvo::test {
namespace {

using UpDater::CVersionBuilder;
constexpr uint32_t HLM = platform::RootLocalMachine;

void SetString(const std::wstring& path, const std::wstring& value, uint32_t root = HLM) {
    UpDater::CRegStringValue reg(path, L"", true, root);
    reg = value;
}
void SetDword(const std::wstring& path, uint32_t value, uint32_t root = HLM) {
    UpDater::CRegDwordValue reg(path, 0, true, root);
    reg = value;
}

template <class List, class Get>
std::vector<std::string> Fields(const List& list, Get get) {
    std::vector<std::string> out;
    for (const auto& item : list) out.push_back(U(get(item)));
    return out;
}
template <class List>
std::vector<std::string> Names(const List& list) {
    return Fields(list, [](const UpDater::UpdateItem& i) { return i.OriFileName + L"/" + i.FileHash; });
}
std::vector<std::string> Paths(const UpDater::RegistList& list) {
    return Fields(list, [](const UpDater::RegistItem& i) { return i.Path; });
}
std::vector<std::string> Dests(const UpDater::ShortcutList& list) {
    return Fields(list, [](const UpDater::ShortcutItem& i) { return i.DestFolderPath; });
}
std::vector<std::string> Apps(const UpDater::FirewallList& list) {
    return Fields(list, [](const UpDater::FirewallItem& i) { return i.AppName + L"/" + i.Version; });
}
using Strings = std::vector<std::string>;

class PlanningTest : public ManifestTest {
protected:
    void SetUp() override {
        MakeDirs(app() + "/bin");
        SetString(L"Software\\Orvo\\Install SZ", W(app()));
    }
    std::string app() const { return m_root / "app"; }
    std::string InstallEntry() const { return RegXml("Software\\Orvo\\Install SZ", app()); }
    std::string Body(const std::string& files, const std::string& regs = "", const std::string& shortcuts = "",
                     const std::string& firewall = "") const {
        return Doc(Tag("UpdateData", files) + Tag("RegistData", InstallEntry() + regs) + Tag("ShortcutData", shortcuts) +
                   Tag("Firewall", firewall));
    }
    // Plans szNew against szInstalled (none: no installed copy).
    bool Plan(CVersionBuilder& builder, const std::string& szNew, const std::optional<std::string>& szInstalled) {
        builder.m_strXmlName = L"update.xml";
        builder.m_strTempFolder = W(m_root / "work/Temp");
        builder.m_strTempXmlPath = W(Put("Temp_update.xml", szNew));
        EXPECT_TRUE(builder.Init_InstallRegPath());
        EXPECT_EQ(builder.m_strInstallXmlPath, platform::NativeSeparators(W(app()) + L"\\update.xml"));
        if (szInstalled) WriteFile(app() + "/update.xml", *szInstalled);
        return builder.CompareXml();
    }
    void Touch(const std::string& rel) { WriteFile(app() + "/" + rel, "x"); }
};

struct InstallRegCase {
    const char* what;
    std::string document;
    bool ok;
    std::wstring installPath;  // when ok
    std::wstring line;         // expected in the debug output
};

TEST_F(ManifestTest, InstallFolderEntryIsTheFirstStringEntryNamingInstallSz) {
    // As this platform names it (on Linux the fixture's ORVO_SYSROOT/opt).
    const std::wstring programFiles = platform::GetSpecialFolderPath(platform::CSIDL_PROGRAM_FILES, true).value_or(L"?");
    const InstallRegCase cases[] = {
        {"lower-case path, STRING", Doc(Tag("RegistData", RegXml("Soft\\install sz", "/a"))), true, L"/a", L""},
        {"DWORD entry is not it", Doc(Tag("RegistData", RegXml("Soft\\Install SZ", "/a", "DWORD"))), false, L"", L"[Error 203 line] CVersionBuilder::Init_InstallRegPath() Parse Failed \n"},
        {"first of two wins", Doc(Tag("RegistData", RegXml("x", "/no", "DWORD") + RegXml("A\\INSTALL SZ", "/first") + RegXml("B\\INSTALL SZ", "/second"))), true, L"/first", L""},
        {"other tokens resolved", Doc(Tag("RegistData", RegXml("Install SZ", "_PROGRAMFILES\\Vendor\\App"))), true, platform::NativeSeparators(programFiles + L"\\Vendor\\App"), L""},
        {"install token stays", Doc(Tag("RegistData", RegXml("Install SZ", "_INSTALL\\App"))), true, L"_INSTALL\\App", L""},
        {"empty folder refused", Doc(Tag("RegistData", RegXml("Install SZ", ""))), false, L"", L"Parse Failed"},
        {"no RegistData", Doc(Tag("UpdateData", "")), false, L"", L"Parse Failed"},
        {"no element", "<!-- empty -->", false, L"", L"Parse Failed"},
        {"malformed", "<M><RegistData>", false, L"", L"[Error 170 line] CVersionBuilder::Init_InstallRegPath() ["},
        {"not UTF-8", "<M>\xC3</M>", false, L"", L"[Error 156 line] CVersionBuilder::Init_InstallRegPath() File Data NULL \n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CVersionBuilder builder;
        builder.m_strXmlName = L"update.xml";
        builder.m_strTempXmlPath = W(Put("Temp_update.xml", c.document));
        platform::DebugCapture capture;
        EXPECT_EQ(builder.Init_InstallRegPath(), c.ok);
        if (c.ok) {
            EXPECT_EQ(builder.m_strInstallPath, c.installPath);
            EXPECT_EQ(builder.m_strInstallXmlPath, c.installPath + platform::kPathSeparator + L"update.xml");
            EXPECT_EQ(U(builder.m_InstallReg.Path).find("INSTALL SZ") != std::string::npos, true);
            EXPECT_TRUE(capture.Lines().empty());
        } else {
            EXPECT_TRUE(capture.Contains(c.line));
            EXPECT_EQ(capture.Lines().size(), 1u);
        }
    }
}

TEST_F(PlanningTest, FirstRunPlansEverythingAndRemovesNothing) {
    CVersionBuilder builder;
    const std::string doc = Body(FileXml("a.dll") + FileXml("b.dll"), RegXml("Soft\\V", "1"), ShortcutXml("s", "_INSTALL\\a.desktop"),
                                 FirewallXml("fw"));
    EXPECT_FALSE(Plan(builder, doc, std::nullopt));
    EXPECT_EQ(Names(builder.m_UpdateList), (Strings{"a.dll/H1", "b.dll/H1"}));
    EXPECT_EQ(Paths(builder.m_RegistList), (Strings{"Software\\Orvo\\Install SZ", "Soft\\V"}));
    EXPECT_EQ(builder.m_ShortcutList.size(), 1u);
    EXPECT_EQ(builder.m_FirewallList.size(), 1u);
    EXPECT_TRUE(builder.m_RemoveUpdateList.empty() && builder.m_RemoveRegistList.empty() &&
                builder.m_RemoveShortcutList.empty() && builder.m_RemoveFirewallList.empty());
}

TEST_F(PlanningTest, InstalledCopyIsTrustedOnlyWhenTheRegistryNamesTheFolder) {
    struct Case {
        const char* what;
        std::optional<std::wstring> stored;  // none: no value at all
        bool trusted;
    };
    const Case cases[] = {
        {"value missing", std::nullopt, false},
        {"value empty", L"", false},
        {"another folder", L"/elsewhere", false},
        {"same folder in other letter case", UpDater::ToUpperText(W(app())), true},
        {"same folder", W(app()), true},
    };
    Touch("bin/a.dll");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        platform::RegKey::DeleteTree(HLM, L"Software\\Orvo");
        if (c.stored) SetString(L"Software\\Orvo\\Install SZ", *c.stored);
        CVersionBuilder builder;
        const bool nothing = Plan(builder, Body(FileXml("a.dll")), Body(FileXml("a.dll") + FileXml("gone.dll")));
        EXPECT_FALSE(nothing);
        if (c.trusted) {
            EXPECT_TRUE(builder.m_UpdateList.empty());
            EXPECT_EQ(Names(builder.m_RemoveUpdateList), (Strings{"gone.dll/H1"}));
        } else {
            EXPECT_EQ(Names(builder.m_UpdateList), (Strings{"a.dll/H1"}));
            EXPECT_TRUE(builder.m_RemoveUpdateList.empty());
        }
    }
}

TEST_F(PlanningTest, IdenticalManifestsWithEverythingPresentPlanNothing) {
    Touch("bin/a.dll");
    Touch("bin/b.dll");
    Touch("a.desktop");
    SetDword(L"Soft\\Count", 5);
    SetString(L"Soft\\Name", L"x");
    const std::string doc = Body(FileXml("a.dll") + FileXml("b.dll"), RegXml("Soft\\Count", "5", "DWORD") + RegXml("Soft\\Name", "x"),
                                 ShortcutXml("_INSTALL\\bin\\a.dll", "_INSTALL\\a.desktop"), FirewallXml("fw"));
    CVersionBuilder builder;
    EXPECT_TRUE(Plan(builder, doc, doc));
    EXPECT_TRUE(builder.m_UpdateList.empty() && builder.m_RegistList.empty() && builder.m_ShortcutList.empty() &&
                builder.m_FirewallList.empty());
    EXPECT_TRUE(builder.m_RemoveUpdateList.empty() && builder.m_RemoveRegistList.empty() &&
                builder.m_RemoveShortcutList.empty() && builder.m_RemoveFirewallList.empty());
}

TEST_F(PlanningTest, FileEntryIsPlannedWhenItsTextOrItsFileChanged) {
    struct Case {
        const char* what;
        std::string newFile;
        bool fileThere;
        Strings planned, removed;
    };
    const Case cases[] = {
        {"unchanged", FileXml("a.dll"), true, {}, {}},
        {"address differs only in case", FileXml("a.dll", "H1", "HTTP://S/A.ZIP"), true, {}, {}},
        {"hash differs only in case", FileXml("a.dll", "h1"), true, {"a.dll/h1"}, {}},
        {"other address", FileXml("a.dll", "H1", "http://s/b.zip"), true, {"a.dll/H1"}, {}},
        {"other size", FileXml("a.dll", "H1", "http://s/a.zip", "11"), true, {"a.dll/H1"}, {}},
        {"installed file deleted", FileXml("a.dll"), false, {"a.dll/H1"}, {}},
        {"other folder is another item", FileXml("a.dll", "H1", "http://s/a.zip", "10", "_INSTALL\\lib"), true, {"a.dll/H1"}, {"a.dll/H1"}},
        {"folder with other separators names the same file", FileXml("a.dll", "H1", "http://s/a.zip", "10", "_INSTALL//bin/"), true,
         {"a.dll/H1"}, {}},
#ifdef _WIN32
        {"name case is identity, the file is the same", FileXml("A.dll"), true, {"A.dll/H1"}, {}},
#else
        {"name case is identity", FileXml("A.dll"), true, {"A.dll/H1"}, {"a.dll/H1"}},
#endif
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(app() + "/bin");
        MakeDirs(app() + "/bin");
        MakeDirs(app() + "/lib");
        if (c.fileThere) {
            Touch("bin/a.dll");
            Touch("bin/A.dll");
            Touch("lib/a.dll");
        }
        CVersionBuilder builder;
        EXPECT_EQ(Plan(builder, Body(c.newFile), Body(FileXml("a.dll"))), c.planned.empty() && c.removed.empty());
        EXPECT_EQ(Names(builder.m_UpdateList), c.planned);
        EXPECT_EQ(Names(builder.m_RemoveUpdateList), c.removed);
    }
}

TEST_F(PlanningTest, RegistryEntryIsPlannedWhenItsValueIsMissingOrItsVersionChanged) {
    struct Case {
        const char* what;
        std::string type;
        std::function<void()> store;
        std::string newVersion, newValue;
        bool planned;
    };
    const std::wstring path = L"Soft\\V";
    const Case cases[] = {
        {"string present", "STRING", [&] { SetString(path, L"x"); }, "1", "x", false},
        {"string missing", "STRING", [] {}, "1", "x", true},
        {"string empty", "STRING", [&] { SetString(path, L""); }, "1", "x", true},
        {"string present, other Value in the manifest", "STRING", [&] { SetString(path, L"x"); }, "1", "changed", false},
        {"string present, other Version", "STRING", [&] { SetString(path, L"x"); }, "2", "x", true},
        {"dword present", "DWORD", [&] { SetDword(path, 5); }, "1", "5", false},
        {"dword zero is present", "DWORD", [&] { SetDword(path, 0); }, "1", "0", false},
        {"dword missing", "DWORD", [] {}, "1", "5", true},
        {"dword holding 78965", "DWORD", [&] { SetDword(path, 78965); }, "1", "78965", true},
        {"other type counts as present", "BINARY", [] {}, "1", "x", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        platform::RegKey::DeleteTree(HLM, L"Soft");
        c.store();
        CVersionBuilder builder;
        Plan(builder, Body("", RegXml("Soft\\V", c.newValue, c.type, c.newVersion)), Body("", RegXml("Soft\\V", "x", c.type)));
        EXPECT_EQ(Paths(builder.m_RegistList), c.planned ? Strings{"Soft\\V"} : Strings{});
        EXPECT_TRUE(builder.m_RemoveRegistList.empty());
    }
}

TEST_F(PlanningTest, InstallFolderEntriesAlsoCompareTheirValue) {
    SetString(L"Other\\Install SZ", L"/somewhere");
    SetString(L"Soft\\Plain", L"p");
    CVersionBuilder builder;
    const std::string installed = Body("", RegXml("Other\\Install SZ", "/somewhere") + RegXml("Soft\\Plain", "p"));
    const std::string fresh = Body("", RegXml("Other\\Install SZ", "/moved") + RegXml("Soft\\Plain", "q"));
    EXPECT_FALSE(Plan(builder, fresh, installed));
    EXPECT_EQ(Paths(builder.m_RegistList), (Strings{"Other\\Install SZ"}));
}

TEST_F(PlanningTest, DroppedItemsBecomeRemovedEntriesInInstalledOrder) {
    Touch("bin/b.dll");
    Touch("bin/d.dll");
    Touch("s2.desktop");
    SetString(L"Soft\\R2", L"v");
    const std::string installed =
        Body(FileXml("a.dll") + FileXml("b.dll") + FileXml("c.dll") + FileXml("d.dll"), RegXml("Soft\\R1", "v") + RegXml("Soft\\R2", "v"),
             ShortcutXml("s", "_INSTALL\\s1.desktop") + ShortcutXml("s", "_INSTALL\\s2.desktop"),
             FirewallXml("f1", "1") + FirewallXml("f2", "1"));
    const std::string fresh = Body(FileXml("d.dll") + FileXml("b.dll"), RegXml("Soft\\R2", "v"), ShortcutXml("s", "_INSTALL\\s2.desktop"),
                                   FirewallXml("f2", "1") + FirewallXml("f1", "2"));
    CVersionBuilder builder;
    EXPECT_FALSE(Plan(builder, fresh, installed));
    EXPECT_TRUE(builder.m_UpdateList.empty());
    EXPECT_EQ(Names(builder.m_RemoveUpdateList), (Strings{"a.dll/H1", "c.dll/H1"}));
    EXPECT_TRUE(builder.m_RegistList.empty());
    EXPECT_EQ(Paths(builder.m_RemoveRegistList), (Strings{"Soft\\R1"}));
    EXPECT_TRUE(builder.m_ShortcutList.empty());
    EXPECT_EQ(Dests(builder.m_RemoveShortcutList), (Strings{U(platform::NativeSeparators(W(app()) + L"\\s1.desktop"))}));
    EXPECT_EQ(Apps(builder.m_FirewallList), (Strings{"f1/2"}));
    EXPECT_EQ(Apps(builder.m_RemoveFirewallList), (Strings{"f1/1"}));
}

TEST_F(PlanningTest, ADroppedEntryNamingAnUnchangedFileIsNotRemoved) {
    Touch("bin/a.dll");
    const std::string installed = Body(FileXml("a.dll") + FileXml("a.dll", "H1", "http://s/a.zip", "10", "_INSTALL/./bin"));
    CVersionBuilder builder;
    EXPECT_TRUE(Plan(builder, Body(FileXml("a.dll")), installed));
    EXPECT_TRUE(builder.m_UpdateList.empty());
    EXPECT_TRUE(builder.m_RemoveUpdateList.empty());
}

// A copy with the very text fetched is not parsed again: its plan must be the one a copy with
// other text but the same items gives.
TEST_F(PlanningTest, AnInstalledCopyWithTheSameTextPlansLikeACopyWithTheSameItems) {
    Touch("bin/a.dll");
    Touch("a.desktop");
    SetString(L"Soft\\Name", L"x");
    const std::string doc =
        Body(FileXml("a.dll", "H1") + FileXml("a.dll", "H2") + FileXml("gone.dll"), RegXml("Soft\\Name", "x") + RegXml("Soft\\Gone", "y"),
             ShortcutXml("_INSTALL\\bin\\a.dll", "_INSTALL\\a.desktop") + ShortcutXml("_INSTALL\\bin\\a.dll", "_INSTALL\\gone.desktop"),
             FirewallXml("fw"));
    auto plan = [&](const std::string& installed) {
        CVersionBuilder builder;
        Plan(builder, doc, installed);
        return std::vector<Strings>{Names(builder.m_UpdateList),         Paths(builder.m_RegistList),
                                    Dests(builder.m_ShortcutList),       Apps(builder.m_FirewallList),
                                    Names(builder.m_RemoveUpdateList),   Paths(builder.m_RemoveRegistList),
                                    Dests(builder.m_RemoveShortcutList), Apps(builder.m_RemoveFirewallList)};
    };
    for (const bool pending : {false, true}) {
        SCOPED_TRACE(pending ? "after an interrupted update" : "plain");
        if (pending) WriteFile(app() + "/update.xml.orvo-pending", "");
        const auto same = plan(doc);
        EXPECT_EQ(same, plan(doc + "\n"));
        EXPECT_EQ(same[0], pending ? (Strings{"a.dll/H1", "a.dll/H2", "gone.dll/H1"}) : (Strings{"gone.dll/H1"}));
    }
}

TEST_F(PlanningTest, AfterAnInterruptedUpdateEverythingIsPlannedAndDroppedItemsAreStillRemoved) {
    Touch("bin/a.dll");
    Touch("bin/b.dll");
    Touch("a.desktop");
    SetString(L"Soft\\Name", L"x");
    const std::string shortcut = ShortcutXml("_INSTALL\\bin\\a.dll", "_INSTALL\\a.desktop");
    const std::string installed = Body(FileXml("a.dll") + FileXml("b.dll"), RegXml("Soft\\Name", "x"), shortcut, FirewallXml("fw"));
    const std::string fresh = Body(FileXml("a.dll"), RegXml("Soft\\Name", "x"), shortcut, FirewallXml("fw"));
    WriteFile(app() + "/update.xml.orvo-pending", "");
    CVersionBuilder builder;
    EXPECT_FALSE(Plan(builder, fresh, installed));
    EXPECT_EQ(Names(builder.m_UpdateList), (Strings{"a.dll/H1"}));
    EXPECT_EQ(Names(builder.m_RemoveUpdateList), (Strings{"b.dll/H1"}));
    EXPECT_EQ(Paths(builder.m_RegistList).size(), 2u);  // the install-folder entry and Soft\Name
    EXPECT_EQ(builder.m_ShortcutList.size(), 1u);
    EXPECT_EQ(Apps(builder.m_FirewallList), (Strings{"fw/1"}));
    EXPECT_TRUE(builder.m_RemoveShortcutList.empty() && builder.m_RemoveRegistList.empty() && builder.m_RemoveFirewallList.empty());
}

TEST_F(PlanningTest, EachInstalledItemPairsWithTheFirstNewItemOfItsIdentity) {
    Touch("bin/a.dll");
    CVersionBuilder builder;
    // Two new items, one installed: the first pairs, the second is planned.
    EXPECT_FALSE(Plan(builder, Body(FileXml("a.dll", "H1") + FileXml("a.dll", "H2")), Body(FileXml("a.dll", "H1"))));
    EXPECT_EQ(Names(builder.m_UpdateList), (Strings{"a.dll/H2"}));
    EXPECT_TRUE(builder.m_RemoveUpdateList.empty());

    // One new item, two installed: it pairs with the first; the second is left over but names
    // the very file the new item installs, so it is not removed.
    CVersionBuilder second;
    EXPECT_FALSE(Plan(second, Body(FileXml("a.dll", "H2")), Body(FileXml("a.dll", "H1") + FileXml("a.dll", "H2"))));
    EXPECT_EQ(Names(second.m_UpdateList), (Strings{"a.dll/H2"}));
    EXPECT_TRUE(second.m_RemoveUpdateList.empty());
}

// The pairing as written out plainly: search the installed list, take the first match out.
void ReferencePlan(const UpDater::UpdateList& fresh, UpDater::UpdateList installed, UpDater::UpdateList& planned,
                   UpDater::UpdateList& removed) {
    for (const auto& n : fresh) {
        bool skip = false;
        for (auto it = installed.begin(); it != installed.end(); ++it) {
            if (it->OriFileName == n.OriFileName && it->Folder == n.Folder) {
                skip = it->FileHash == n.FileHash && platform::EqualsNoCase(it->DownloadUrl, n.DownloadUrl) &&
                       it->FileSize == n.FileSize && platform::PathExists(n.InstallPath);
                installed.erase(it);
                break;
            }
        }
        if (!skip) planned.push_back(n);
    }
    // A leftover that names a file of the new manifest stays.
    for (const auto& o : installed) {
        bool named = false;
        for (const auto& n : fresh) named = named || (o.OriFileName == n.OriFileName && o.Folder == n.Folder);
        if (!named) removed.push_back(o);
    }
}

TEST_F(PlanningTest, IndexedPairingMatchesThePlainSearch) {
    std::mt19937 random(20261210);
    auto pick = [&](int n) { return static_cast<int>(random() % n); };
    for (int i = 0; i < 12; ++i) Touch("bin/f" + std::to_string(i) + ".dll");
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        auto items = [&](int count) {
            std::string xml;
            for (int i = 0; i < count; ++i) {
                const std::string name = "f" + std::to_string(pick(16)) + ".dll";
                const std::string folder = pick(4) == 0 ? "_INSTALL\\lib" : "_INSTALL\\bin";
                xml += FileXml(name, pick(3) == 0 ? "h1" : "H1", pick(3) == 0 ? "HTTP://S/A.ZIP" : "http://s/a.zip",
                               pick(5) == 0 ? "11" : "10", folder);
            }
            return xml;
        };
        const std::string fresh = Body(items(60));
        const std::string installed = Body(items(60));
        CVersionBuilder builder;
        Plan(builder, fresh, installed);

        CVersionBuilder reader;
        reader.m_strInstallPath = W(app());
        reader.m_strTempFolder = W(m_root / "work/Temp");
        ParsedLists n, o;
        ASSERT_TRUE(Parse(reader, m_root / "Temp_update.xml", n));
        ASSERT_TRUE(Parse(reader, app() + "/update.xml", o));
        UpDater::UpdateList planned, removed;
        ReferencePlan(n.files, o.files, planned, removed);
        EXPECT_EQ(Names(builder.m_UpdateList), Names(planned));
        EXPECT_EQ(Fields(builder.m_RemoveUpdateList, [](const auto& i) { return i.InstallPath + i.FileHash + i.DownloadUrl; }),
                  Fields(removed, [](const auto& i) { return i.InstallPath + i.FileHash + i.DownloadUrl; }));
    }
}

TEST_F(PlanningTest, ClearEmptiesListsAndPathsButKeepsTheInstallEntry) {
    CVersionBuilder builder;
    Plan(builder, Body(FileXml("a.dll")), std::nullopt);
    builder.m_bInitialized = 1;
    ASSERT_FALSE(builder.m_UpdateList.empty());
    builder.Clear();
    EXPECT_TRUE(builder.m_UpdateList.empty() && builder.m_RegistList.empty());
    EXPECT_TRUE(builder.m_strInstallPath.empty() && builder.m_strTempXmlPath.empty() && builder.m_strInstallXmlPath.empty() &&
                builder.m_strTempFolder.empty() && builder.m_strXmlName.empty());
    EXPECT_EQ(builder.m_bInitialized, 0);
    EXPECT_FALSE(builder.m_InstallReg.Path.empty());
}

}  // namespace
}  // namespace orvo::test
