#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <thread>

#include "support/update_world.h"

using namespace orvo::test;

namespace {

std::vector<PublishedFile> VersionOne() {
    return {
        {"app.sh", UpdateWorld::TargetScript("1"), "_INSTALL", true},
        {"readme.txt", "version one readme\n"},
        {"core.dat", std::string(70000, 'c'), "_INSTALL\\data\\deep"},
    };
}

struct FileId {
    ino_t inode;
    timespec mtime;
};
FileId Id(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return {st.st_ino, st.st_mtim};
}

}  // namespace

class UpdateRun : public UpdateWorld {};

TEST_F(UpdateRun, FirstInstallThenChangedFilesOnlyThenNothingToDo) {
    Publish(VersionOne());
    std::string out;
    ASSERT_EQ(RunUpdater(&out), 0) << out;
    EXPECT_EQ(ReadFile(Installed("readme.txt")), "version one readme\n");
    EXPECT_EQ(ReadFile(Installed("data/deep/core.dat")), std::string(70000, 'c'));
    EXPECT_EQ(ReadFile(Installed("app.xml")), ReadFile(server.Root() + "/app.xml"));
    EXPECT_EQ(Starts(), "[-v][two words]\n");
    std::string reg;
    ASSERT_EQ(orvo::test::Run(BuiltBinary("tools/orvo-reg/orvo-reg") + " query 'HKLM\\Software\\OrvoTest\\App' /v 'INSTALL SZ'", &reg), 0);
    EXPECT_NE(reg.find(installDir), std::string::npos) << reg;

    // Version two changes one file; the others are not touched at all.
    auto v2 = VersionOne();
    v2[1].content = "version two readme\n";
    Publish(v2);
    const FileId core = Id(Installed("data/deep/core.dat")), app = Id(Installed("app.sh"));
    ::unlink(Installed("starts").c_str());
    ASSERT_EQ(RunUpdater(&out), 0) << out;
    EXPECT_EQ(ReadFile(Installed("readme.txt")), "version two readme\n");
    for (const auto& [path, before] : {std::pair{Installed("data/deep/core.dat"), core}, std::pair{Installed("app.sh"), app}}) {
        const FileId now = Id(path);
        EXPECT_EQ(now.inode, before.inode) << path;
        EXPECT_EQ(now.mtime.tv_nsec, before.mtime.tv_nsec) << path;
    }
    EXPECT_EQ(Starts(), "[-v][two words]\n");

    // Nothing changed since: the packages are gone from the server and the run still just
    // starts the target, without a download.
    orvo::test::Run("rm -rf '" + server.Root() + "/pkg'");
    ::unlink(Installed("starts").c_str());
    out.clear();
    ASSERT_EQ(RunUpdater(&out), 0) << out;
    EXPECT_EQ(out.find("Download"), std::string::npos) << out;
    EXPECT_EQ(Starts(), "[-v][two words]\n");
}

TEST_F(UpdateRun, FailuresLeaveTheInstalledVersionAsItWas) {
    Publish(VersionOne());
    ASSERT_EQ(RunUpdater(), 0);
    const std::string manifestV1 = ReadFile(Installed("app.xml"));
    ::unlink(Installed("starts").c_str());

    struct Case {
        const char* what;
        std::function<void(std::vector<PublishedFile>&)> publish;  // after Publish(...)
        const char* expected;
    };
    auto v2 = [] {
        auto files = VersionOne();
        for (auto& f : files) f.content += "(v2)";
        files[0].content = UpdateWorld::TargetScript("2");
        return files;
    };
    const Case cases[] = {
        {"second package missing", [&](auto& files) { ::unlink(PackagePath(files[1]).c_str()); },
         "[OVUSVC][Error] DownloadUpdateFile"},
        {"corrupt package", [&](auto& files) { WriteFile(PackagePath(files[1]), "PK\x03\x04 not really a zip"); },
         "[OVUSVC][Error] UnzipDownloadFile"},
        {"size mismatch",
         [&](auto& files) { WriteFile(server.Root() + "/app.xml", ManifestXml(files, "", {{"readme.txt", 3}})); },
         "Upzip File size Failed"},
    };
    for (const auto& c : cases) {
        auto files = v2();
        Publish(files);
        c.publish(files);
        std::string out;
        EXPECT_EQ(RunUpdater(&out), 1) << c.what << "\n" << out;
        EXPECT_NE(out.find(c.expected), std::string::npos) << c.what << "\n" << out;
        EXPECT_EQ(ReadFile(Installed("readme.txt")), "version one readme\n") << c.what;
        EXPECT_EQ(ReadFile(Installed("app.xml")), manifestV1) << c.what;
        EXPECT_FALSE(Exists(Installed("starts"))) << c.what;  // a failed run never starts the target
    }
}

TEST_F(UpdateRun, ThirdPackageIsNeverRequestedAfterAFailedDownload) {
    // One download at a time: with several at once, packages already under way when one fails
    // are fetched too (no new one starts; the download stage's own tests show that).
    ScopedEnv serial("ORVO_PARALLEL_DOWNLOADS", "1");
    server.AddDirectives("access_log " + m_root.path() + "/access.log;");
    server.Stop();
    server.Start();
    manifestUrl = server.Url("/app.xml");
    auto files = VersionOne();
    Publish(files);
    ::unlink(PackagePath(files[1]).c_str());
    std::string out;
    EXPECT_EQ(RunUpdater(&out), 1);
    const std::string log = ReadFile(m_root / "access.log");
    EXPECT_NE(log.find("/app.sh.zip"), std::string::npos) << log;
    EXPECT_NE(log.find("/readme.txt.zip"), std::string::npos) << log;
    EXPECT_EQ(log.find("/core.dat.zip"), std::string::npos) << log;
}

TEST_F(UpdateRun, AFileThatCannotBeReplacedKeepsTheOldManifestForTheNextRun) {
    struct Case {
        const char* what;
        const char* blocked;   // the installed file whose replacement fails
        std::string obstacle;  // made in its way
        std::string other;     // a file that is still replaced
    };
    const Case cases[] = {
        // The rename over the installed file fails.
        {"a folder where the file is", "readme.txt", "readme.txt/occupied/x", "data/deep/core.dat"},
        // The rename and the copy beside it both fail.
        {"a file where its folder is", "data/deep/core.dat", "data/deep", "readme.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        orvo::test::Run("rm -rf '" + installDir + "'");
        Publish(VersionOne());
        ASSERT_EQ(RunUpdater(), 0);
        const std::string manifestV1 = ReadFile(Installed("app.xml"));
        auto v2 = VersionOne();
        v2[1].content = "version two readme\n";
        v2[2].content = "new core";
        Publish(v2);
        orvo::test::Run("rm -rf '" + Installed(c.blocked) + "' '" + Installed(c.obstacle) + "'");
        WriteFile(Installed(c.obstacle), "in the way");
        std::string out;
        EXPECT_EQ(RunUpdater(&out), 0) << out;
        EXPECT_NE(out.find("File Move Failed"), std::string::npos) << out;
        EXPECT_NE(out.find("[Warning] A process of the app.sh program is running."), std::string::npos) << out;
        EXPECT_EQ(ReadFile(Installed(c.other)), c.other == "readme.txt" ? "version two readme\n" : "new core");  // the rest went on
        EXPECT_EQ(ReadFile(Installed("app.xml")), manifestV1);  // so the next run repeats it

        orvo::test::Run("rm -rf '" + Installed(c.obstacle) + "' '" + Installed(c.blocked) + "'");
        ASSERT_EQ(RunUpdater(&out), 0) << out;
        EXPECT_EQ(ReadFile(Installed("readme.txt")), "version two readme\n");
        EXPECT_EQ(ReadFile(Installed("data/deep/core.dat")), "new core");
        EXPECT_EQ(ReadFile(Installed("app.xml")), ReadFile(server.Root() + "/app.xml"));
    }
}

TEST_F(UpdateRun, InterruptCancelsWithoutStartingTheTarget) {
    server.AddDirectives("limit_rate 1m;");
    server.Stop();
    server.Start();
    manifestUrl = server.Url("/app.xml");
    auto files = VersionOne();
    std::string noise(3 << 20, '\0');  // incompressible, so the package is as slow to fetch as the file is big
    uint32_t x = 2463534242u;
    for (auto& c : noise) c = static_cast<char>((x ^= x << 13, x ^= x >> 17, x ^= x << 5) & 0xFF);
    files.push_back({"big.bin", noise});
    Publish(files);

    const std::string cmd = "unset DISPLAY; exec " + UpdaterCommand() + " >'" + (m_root / "out.log") + "' 2>&1 </dev/null";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    // Wait until the big download is under way, then press Ctrl-C.
    for (int i = 0; i < 200 && ReadFile(m_root / "out.log").find("big.bin") == std::string::npos; ++i) usleep(50000);
    ::kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    const std::string out = ReadFile(m_root / "out.log");
    ASSERT_TRUE(WIFEXITED(status)) << out;
    EXPECT_EQ(WEXITSTATUS(status), 130) << out;
    // Reported once, as a cancel.
    EXPECT_EQ(out.find("Update cancelled."), out.rfind("Update cancelled.")) << out;
    EXPECT_NE(out.find("Update cancelled."), std::string::npos) << out;
    EXPECT_EQ(out.find("Update failed"), std::string::npos) << out;
    EXPECT_EQ(out.find("OrvoUpdaterService: [OVUSVC][Error]"), std::string::npos) << out;
    EXPECT_FALSE(Exists(Installed("app.xml")));
    EXPECT_FALSE(Exists(Installed("big.bin"))) << out;
    usleep(200000);
    EXPECT_FALSE(Exists(Installed("starts")));
}

TEST_F(UpdateRun, InstallFolderOnAnotherVolumeGetsCopies) {
    // The download folder lies under the test's temporary root; a memory file system is another
    // volume, where the unpacked files cannot simply be renamed into place.
    struct stat tmp {}, shm {};
    char pattern[] = "/dev/shm/orvo-e2e-XXXXXX";
    if (::stat(m_root.path().c_str(), &tmp) != 0 || ::stat("/dev/shm", &shm) != 0 || tmp.st_dev == shm.st_dev ||
        ::mkdtemp(pattern) == nullptr)
        GTEST_SKIP() << "no second volume to install on";
    const std::string other = pattern;
    struct Cleanup {
        std::string path;
        ~Cleanup() { orvo::test::Run("rm -rf '" + path + "'"); }
    } cleanup{other};
    installDir = other + "/inst";

    Publish(VersionOne());
    std::string out;
    ASSERT_EQ(RunUpdater(&out), 0) << out;
    EXPECT_EQ(ReadFile(Installed("readme.txt")), "version one readme\n");
    EXPECT_EQ(ReadFile(Installed("data/deep/core.dat")), std::string(70000, 'c'));
    EXPECT_EQ(ReadFile(Installed("app.xml")), ReadFile(server.Root() + "/app.xml"));
    EXPECT_EQ(Starts(), "[-v][two words]\n");  // still a program after the copy
    std::string left;
    orvo::test::Run("find '" + other + "' '" + m_root.path() + "' -type f -name '*.tmp' -o -type f -name 'readme.txt*' -path '*Temp*'", &left);
    EXPECT_EQ(left, "");  // neither staged copies nor unpacked files stay behind
}

// A file that moves between two spellings of the same folder is installed and kept, not
// installed and then removed as the dropped entry of the old spelling.
TEST_F(UpdateRun, AFolderSpelledOtherwiseKeepsItsFile) {
    const std::pair<const char*, const char*> spellings[] = {{"_INSTALL/sub", "_INSTALL\\sub"}, {"_INSTALL\\sub", "_INSTALL//sub/"}};
    for (const auto& [before, after] : spellings) {
        SCOPED_TRACE(std::string(before) + " -> " + after);
        orvo::test::Run("rm -rf '" + installDir + "'");
        auto files = VersionOne();
        files.push_back({"notes.txt", "notes one\n", before});
        Publish(files);
        std::string out;
        ASSERT_EQ(RunUpdater(&out), 0) << out;
        files.back().folder = after;
        files.back().content = "notes two\n";
        Publish(files);
        ASSERT_EQ(RunUpdater(&out), 0) << out;
        EXPECT_EQ(ReadFile(Installed("sub/notes.txt")), "notes two\n") << out;
    }
}

// A package made on a system without Unix modes records none for its file: the program it
// replaces stays a program (and the target starts), a plain file stays plain.
TEST_F(UpdateRun, APackageWithoutModesKeepsTheModeOfTheReplacedFile) {
    Publish(VersionOne());
    ASSERT_EQ(RunUpdater(), 0);
    ::unlink(Installed("starts").c_str());
    auto v2 = VersionOne();
    v2[0].content = UpdateWorld::TargetScript("2");
    v2[1].content = "version two readme\n";
    Publish(v2);
    for (int i : {0, 1}) {
        // Rewritten as an MS-DOS entry (external attributes: the archive bit only).
        const std::string src = m_root / "dos-src";
        WriteFile(src, v2[i].content);
        const std::string zip = PackagePath(v2[i]);
        ::unlink(zip.c_str());
        ASSERT_EQ(orvo::test::Run("python3 -c \"import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1], 'w')\n"
                                  "e = zipfile.ZipInfo(sys.argv[2])\ne.create_system = 0\ne.external_attr = 0x20\n"
                                  "z.writestr(e, open(sys.argv[3], 'rb').read())\nz.close()\" '" +
                                  zip + "' '" + v2[i].name + "' '" + src + "'"),
                  0);
    }
    std::string out;
    ASSERT_EQ(RunUpdater(&out), 0) << out;
    EXPECT_EQ(ReadFile(Installed("app.sh")), v2[0].content);
    EXPECT_EQ(Starts(), "[-v][two words]\n");
    struct stat app {}, readme {};
    ASSERT_EQ(::stat(Installed("app.sh").c_str(), &app), 0);
    ASSERT_EQ(::stat(Installed("readme.txt").c_str(), &readme), 0);
    EXPECT_EQ(app.st_mode & 0777, 0755u);
    EXPECT_EQ(readme.st_mode & 0111, 0u);
}

// Each argument after the target's name reaches the target whole, as the caller gave it.
TEST_F(UpdateRun, TargetParametersReachTheTargetWhole) {
    Publish(VersionOne());
    std::string out;
    ASSERT_EQ(RunUpdater(&out, "app.sh", "-a \"x y\" 'two  spaces' '' 'q\"uote' 'back\\slash\\'"), 0) << out;
    EXPECT_EQ(Starts(), "[-a][x y][two  spaces][][q\"uote][back\\slash\\]\n");
}
