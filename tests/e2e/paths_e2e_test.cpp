// Hostile paths in manifests and packages, end to end with the real updater: nothing is written,
// moved or deleted outside the folders the update owns.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "support/update_world.h"

using namespace orvo::test;

namespace {

std::string Tag(const std::string& name, const std::string& value) { return "<" + name + ">" + value + "</" + name + ">"; }

std::string Shortcut(const std::string& source, const std::string& dest) {
    return "<Item>" + Tag("Version", "1") + Tag("IsUrlType", "0") + Tag("SourcePath", source) + Tag("DestFolderPath", dest) +
           Tag("Des", "d") + "</Item>";
}

void ReplaceOnce(std::string& text, const std::string& from, const std::string& to) {
    const auto at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
}

}  // namespace

class HostilePaths : public UpdateWorld {
protected:
    std::vector<PublishedFile> Plain() {
        return {{"app.sh", TargetScript("1"), "_INSTALL", true}, {"readme.txt", "readme\n"}};
    }
    void EditManifest(const std::string& from, const std::string& to) {
        std::string xml = ReadFile(server.Root() + "/app.xml");
        ReplaceOnce(xml, from, to);
        WriteFile(server.Root() + "/app.xml", xml);
    }
};

// A file name with separators or a folder with ".." never reaches a file outside the update's
// folders: the item fails with a line naming it, and nothing of the run is installed.
TEST_F(HostilePaths, FileNamesAndFoldersThatLeaveTheirFolderAreRefused) {
    const std::string secret = home() + "/.ssh/id_secret";
    const struct Case {
        const char* what;
        std::string from, to;
    } cases[] = {
        {"file name climbing out of the download folder", "<OriFileName>id_secret</OriFileName>",
         "<OriFileName>..\\..\\..\\..\\.ssh\\id_secret</OriFileName>"},
        {"file name with a folder", "<OriFileName>id_secret</OriFileName>", "<OriFileName>sub/id_secret</OriFileName>"},
        {"folder climbing out of the install folder", "<Folder>_INSTALL\\keys</Folder>",
         "<Folder>_INSTALL\\..\\home\\.ssh</Folder>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(secret, "the user's key");
        auto files = Plain();
        files.push_back({"id_secret", "attackers key!", "_INSTALL\\keys"});  // as long as the user's
        Publish(files);
        EditManifest(c.from, c.to);
        std::string out;
        EXPECT_EQ(RunUpdater(&out), 1) << out;
        EXPECT_NE(out.find("Path Refused"), std::string::npos) << out;
        EXPECT_EQ(ReadFile(secret), "the user's key");
        EXPECT_FALSE(Exists(Installed("readme.txt"))) << out;
        EXPECT_FALSE(Exists(Installed("app.xml")));
    }
}

// An installed manifest copy naming a file outside the install folder (left by an older updater)
// does not make the clean-up delete it; a shortcut path with ".." is neither written nor removed.
TEST_F(HostilePaths, CleanupAndShortcutsStayInsideTheirFolders) {
    Publish(Plain());
    ASSERT_EQ(RunUpdater(), 0);
    const std::string victim = m_root / "victim.txt";
    WriteFile(victim, "keep me");
    std::string copy = ReadFile(Installed("app.xml"));
    ReplaceOnce(copy, "</UpdateData>",
                "<Item>" + Tag("FileHash", "x") + Tag("DownloadUrl", server.Url("/none.zip")) +
                    Tag("OriFileName", "victim.txt") + Tag("FileSize", "7") + Tag("RegCom", "0") +
                    Tag("Folder", "_INSTALL\\..") + "</Item></UpdateData>" + "<ShortcutData>" +
                    Shortcut("_INSTALL\\app.sh", "_INSTALL\\..\\victim.txt") + "</ShortcutData>");
    WriteFile(Installed("app.xml"), copy);

    auto files = Plain();
    files[1].content = "readme two\n";
    Publish(files, "<ShortcutData>" + Shortcut("_INSTALL\\app.sh", "_INSTALL\\..\\evil.desktop") + "</ShortcutData>");
    std::string out;
    EXPECT_EQ(RunUpdater(&out), 0) << out;
    EXPECT_EQ(ReadFile(victim), "keep me");
    EXPECT_FALSE(Exists(m_root / "evil.desktop"));
    EXPECT_NE(out.find("CMgr::CleanupPrograms()   Folder [" + installDir + "/..] File [victim.txt] Path Refused"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("CMgr::CleanupPrograms()   [" + installDir + "/../victim.txt] Shortcut Path Refused"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("CMgr::InstallShortcuts()   [" + installDir + "/../evil.desktop] Shortcut Path Refused"),
              std::string::npos)
        << out;
    EXPECT_EQ(ReadFile(Installed("readme.txt")), "readme two\n");
}

// A package holding more than the file it is for: only that file is installed, and neither the
// extra entries nor the packages stay in the download folder, whether the run completes or fails.
TEST_F(HostilePaths, ExtraEntriesAndPackagesNeverStayBehind) {
    const std::string temp = WorkFolder() + "/Temp";
    auto leftovers = [&] {
        std::string out;
        orvo::test::Run("find '" + temp + "' -mindepth 1 2>/dev/null", &out);
        return out;
    };
    auto files = Plain();
    Publish(files);
    // The standard tool adds a large extra entry and a folder to the readme's package.
    const std::string extra = m_root / "extra";
    WriteFile(extra + "/junk/big.bin", std::string(1 << 20, 'j'));
    ASSERT_EQ(orvo::test::Run("cd '" + extra + "' && zip -qr '" + PackagePath(files[1]) + "' junk"), 0);
    std::string out;
    ASSERT_EQ(RunUpdater(&out), 0) << out;
    EXPECT_EQ(ReadFile(Installed("readme.txt")), "readme\n");
    EXPECT_EQ(leftovers(), "");
    EXPECT_FALSE(Exists(Installed("junk")));

    // A failed run (the second package is announced smaller than it is) leaves no package either.
    files[0].content = TargetScript("2");
    files[1].content = "readme two\n";
    Publish(files);
    WriteFile(server.Root() + "/app.xml", ManifestXml(files, "", {{"readme.txt", 3}}));
    EXPECT_EQ(RunUpdater(&out), 1) << out;
    EXPECT_NE(out.find("Upzip File size Failed"), std::string::npos) << out;
    EXPECT_EQ(leftovers(), "");
    EXPECT_EQ(ReadFile(Installed("readme.txt")), "readme\n");
}

// Staged files are created exclusively under unpredictable names: a link planted at the name an
// earlier version used for the manifest copy's replacement is left alone, and so is its target.
TEST_F(HostilePaths, PlantedLinksAtStagingNamesAreNeverWrittenThrough) {
    const std::string victim = m_root / "root-only.conf";
    WriteFile(victim, "secret settings");
    ASSERT_EQ(::chmod(victim.c_str(), 0600), 0);
    MakeDirs(installDir);
    ASSERT_EQ(::symlink(victim.c_str(), Installed("app.xml.orvo-new").c_str()), 0);
    Publish(Plain());
    std::string out;
    ASSERT_EQ(RunUpdater(&out), 0) << out;
    EXPECT_EQ(ReadFile(victim), "secret settings");
    struct stat st {};
    ASSERT_EQ(::stat(victim.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    ASSERT_EQ(::lstat(Installed("app.xml").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(ReadFile(Installed("app.xml")), ReadFile(server.Root() + "/app.xml"));
}

// The working folders must be the user's alone: one that other users can write (unless sticky
// and the user's), or a link below the data folder, is refused before anything is downloaded.
TEST_F(HostilePaths, WorkingFoldersOthersCouldWriteAreRefused) {
    const std::string update = home() + "/.cache/TALVEN/Update";
    const std::string work = WorkFolder();
    const std::string workRefused = work.substr(work.size() - 16) + "] Working Folder Refused: writable by other users";
    const std::string elsewhere = m_root / "elsewhere";
    const struct Case {
        const char* what;
        std::function<void()> prepare;
        const char* refused;  // the line's ending, or nullptr when the run goes through
    } cases[] = {
        {"update folder writable by everyone", [&] { MakeDirs(update + "/Temp"); ::chmod(update.c_str(), 0777); },
         "TALVEN\\Update] Working Folder Refused: writable by other users"},
        {"download folder a link to another folder",
         [&] {
             MakeDirs(work);
             MakeDirs(elsewhere);
             ::symlink(elsewhere.c_str(), (work + "/Temp").c_str());
         },
         "Temp] Working Folder Refused: a link on the way"},
        {"address's folder writable by everyone", [&] { MakeDirs(work + "/Temp"); ::chmod(work.c_str(), 0777); },
         workRefused.c_str()},
        {"sticky and the user's", [&] { MakeDirs(work + "/Temp"); ::chmod((work + "/Temp").c_str(), 01777); }, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        orvo::test::Run("rm -rf '" + home() + "/.cache/TALVEN' '" + elsewhere + "' '" + installDir + "'");
        c.prepare();
        Publish(Plain());
        std::string out;
        EXPECT_EQ(RunUpdater(&out), c.refused ? 1 : 0) << out;
        if (c.refused) {
            EXPECT_NE(out.find(c.refused), std::string::npos) << out;
            EXPECT_FALSE(Exists(Installed("readme.txt")));
        } else {
            EXPECT_EQ(ReadFile(Installed("readme.txt")), "readme\n");
        }
        std::string inElsewhere;
        orvo::test::Run("find '" + elsewhere + "' -mindepth 1 2>/dev/null", &inElsewhere);
        EXPECT_EQ(inElsewhere, "");
    }
}

// A shortcut is written only at a path with the shortcut extension, and never over a file that
// is not a shortcut; the other shortcuts of the run are still made.
TEST_F(HostilePaths, ShortcutsNeverReplaceOtherFiles) {
    const std::string bashrc = home() + "/.bashrc", notes = home() + "/notes.desktop";
    WriteFile(bashrc, "export PATH=/usr/bin\n");
    WriteFile(notes, "the user's notes");
    Publish(Plain(), "<ShortcutData>" + Shortcut("_INSTALL\\app.sh", bashrc) + Shortcut("_INSTALL\\app.sh", notes) +
                         Shortcut("_INSTALL\\app.sh", "_INSTALL\\links\\App.desktop") + "</ShortcutData>");
    std::string out;
    ASSERT_EQ(RunUpdater(&out), 0) << out;
    EXPECT_EQ(ReadFile(bashrc), "export PATH=/usr/bin\n");
    EXPECT_EQ(ReadFile(notes), "the user's notes");
    EXPECT_NE(out.find("[" + bashrc + "] Shortcut Path Refused"), std::string::npos) << out;
    EXPECT_NE(out.find("[" + notes + "] Shortcut Save Failed [0x80070050]"), std::string::npos) << out;
    EXPECT_EQ(ReadFile(Installed("links/App.desktop")).rfind("[Desktop Entry]\n", 0), 0u);
}

// The skin package is unpacked into a folder of its own beside the updater: a package holding
// files named like the updater and a library beside it cannot replace them.
TEST_F(HostilePaths, SkinIsUnpackedIntoAFolderOfItsOwn) {
    const std::string bin = m_root / "bin";
    MakeDirs(bin);
    const std::string updater = bin + "/OrvoUpdaterService";
    ASSERT_EQ(orvo::test::Run("cp '" + BuiltBinary("src/app/OrvoUpdaterService") + "' '" + updater + "'"), 0);
    WriteFile(bin + "/libskinhelper.so", "the real library");
    const std::string original = ReadFile(updater);

    const std::string stage = m_root / "skinstage";
    WriteFile(stage + "/OrvoUpdaterService", "#!/bin/sh\necho replaced\n");
    WriteFile(stage + "/libskinhelper.so", "a hostile library");
    WriteFile(stage + "/movie.html", "<html>skin</html>");
    MakeDirs(server.Root() + "/skin");
    ASSERT_EQ(orvo::test::Run("cd '" + stage + "' && zip -q '" + server.Root() + "/skin/skin.zip' OrvoUpdaterService libskinhelper.so movie.html"), 0);
    Publish(Plain(), "<Skin>" + Tag("FileHash", "s1") + Tag("DownloadUrl", server.Url("/skin/skin.zip")) +
                         Tag("OriFileName", "movie.html") + Tag("FileSize", "17") + "</Skin>");

    std::string out;
    ASSERT_EQ(orvo::test::Run("unset DISPLAY; env ORVO_DEBUG=1 '" + updater + "' " + manifestUrl + " NULL app.sh 2>&1 </dev/null", &out), 0)
        << out;
    EXPECT_EQ(ReadFile(updater), original);
    EXPECT_EQ(ReadFile(bin + "/libskinhelper.so"), "the real library");
    EXPECT_EQ(ReadFile(bin + "/Skin/movie.html"), "<html>skin</html>");
    EXPECT_FALSE(Exists(bin + "/Skin/skin.zip"));
    EXPECT_EQ(out.find("Skin UI"), std::string::npos) << out;  // the movie was found where it was unpacked
    EXPECT_EQ(ReadFile(Installed("readme.txt")), "readme\n");
}
