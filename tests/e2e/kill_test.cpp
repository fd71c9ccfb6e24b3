#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <thread>
#include <fcntl.h>
#include <set>

#include "delta/Patch.h"
#include "manifest/FolderPaths.h"
#include "platform/strings.h"
#include "support/update_world.h"
#include "trust/Crypto.h"

using namespace orvo::test;

namespace {

std::vector<PublishedFile> Version(int version, int count) {
    std::vector<PublishedFile> files;
    std::mt19937 rng(static_cast<unsigned>(version * 7919));
    for (int i = 0; i < count; ++i) {
        std::string content = "v" + std::to_string(version) + " file " + std::to_string(i) + "\n";
        content.resize(content.size() + 1000 + rng() % 7000, static_cast<char>('a' + (i + version) % 26));
        files.push_back({"f" + std::to_string(i) + ".dat", content, "_INSTALL\\d" + std::to_string(i % 7)});
    }
    files.push_back({"app.sh", UpdateWorld::TargetScript(std::to_string(version)), "_INSTALL", true});
    return files;
}

std::string Rel(const PublishedFile& f) {
    std::string folder = f.folder.substr(std::string("_INSTALL").size());
    for (auto& c : folder)
        if (c == '\\') c = '/';
    if (!folder.empty() && folder[0] == '/') folder = folder.substr(1);
    return folder.empty() ? f.name : folder + "/" + f.name;
}

}  // namespace

class KillTest : public UpdateWorld {
protected:
    // Publishes `to` as Publish does, each file also with its Sha256 and a delta from its
    // version in `from`, served beside the packages.
    void PublishWithDeltas(const std::vector<PublishedFile>& to, const std::vector<PublishedFile>& from) {
        auto bytes = [](const std::string& s) { return std::span(reinterpret_cast<const std::byte*>(s.data()), s.size()); };
        auto sha = [](const std::string& s) {
            trust::crypto::Sha256 h;
            h.Update({reinterpret_cast<const uint8_t*>(s.data()), s.size()});
            return h.FinalHex();
        };
        Publish(to);
        std::string xml = ReadFile(server.Root() + "/app.xml");
        MakeDirs(server.Root() + "/delta");
        for (size_t i = 0; i < to.size(); ++i) {
            const auto patch = delta::MakePatch(bytes(from[i].content), bytes(to[i].content), 3);
            ASSERT_TRUE(patch.has_value());
            const std::string name = "/delta/" + ContentId(from[i]) + "-" + ContentId(to[i]);
            WriteFile(server.Root() + name, std::string(reinterpret_cast<const char*>(patch->data()), patch->size()));
            const std::string entry = "<Sha256>" + sha(to[i].content) + "</Sha256><Deltas><Delta><BaseFileHash>" + ContentId(from[i]) +
                                      "</BaseFileHash><BaseSha256>" + sha(from[i].content) + "</BaseSha256><DownloadUrl>" + urlBase +
                                      name + "</DownloadUrl><Size>" + std::to_string(patch->size()) + "</Size><Sha256>" +
                                      sha(std::string(reinterpret_cast<const char*>(patch->data()), patch->size())) +
                                      "</Sha256></Delta></Deltas>";
            xml.insert(xml.find("</Item>", xml.find("<OriFileName>" + to[i].name + "</OriFileName>")), entry);
        }
        WriteFile(server.Root() + "/app.xml", xml);
    }
    void KillAtRandomInstants(bool withDeltas);

    // Starts the updater and returns its process id. Its output goes to szOutput (or nowhere),
    // its working folder is szCwd (or the test's).
    pid_t Start(const std::string& szOutput = "/dev/null", const std::string& szCwd = "") {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::unsetenv("DISPLAY");
            if (!szCwd.empty() && ::chdir(szCwd.c_str()) != 0) _exit(126);
            const int null = ::open("/dev/null", O_RDWR);
            const int out = ::open(szOutput.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(null, 0);
            ::dup2(out, 1);
            ::dup2(out, 2);
            const std::string exe = BuiltBinary("src/app/OrvoUpdaterService");
            ::execl(exe.c_str(), exe.c_str(), manifestUrl.c_str(), "NULL", "app.sh", static_cast<char*>(nullptr));
            _exit(127);
        }
        return pid;
    }
};

// The updater is killed at random instants of an update; after every kill each installed file
// is whole, old or new, and the installed manifest copy is one of the two published ones. When a
// run got through before its kill, the other version is published, so that kills keep landing
// in updates (in both directions) and an interrupted one is never mistaken for a finished one.
void KillTest::KillAtRandomInstants(bool withDeltas) {
    const int kFiles = 300, kKills = 30;
    const auto v1 = Version(1, kFiles), v2 = Version(2, kFiles);
    // Each version's manifest offers deltas from the other one.
    auto publish = [&](bool two) {
        if (withDeltas) PublishWithDeltas(two ? v2 : v1, two ? v1 : v2);
        else Publish(two ? v2 : v1);
    };
    publish(false);
    const std::string manifest1 = ReadFile(server.Root() + "/app.xml");
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(RunUpdater(), 0);
    const auto fullRun = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0);
    publish(true);
    const std::string manifest2 = ReadFile(server.Root() + "/app.xml");

    std::mt19937 rng(20261210);
    int interrupted = 0;
    bool publishedTwo = true;
    for (int k = 0; k < kKills; ++k) {
        const auto delay = std::chrono::microseconds(rng() % static_cast<uint64_t>(fullRun.count()));
        const pid_t pid = Start();
        std::this_thread::sleep_for(delay);
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        interrupted += WIFSIGNALED(status) ? 1 : 0;

        for (size_t i = 0; i < v1.size(); ++i) {
            const std::string now = ReadFile(Installed(Rel(v1[i])));
            ASSERT_TRUE(now == v1[i].content || now == v2[i].content) << "kill " << k << " after " << delay.count() << " us: "
                                                                       << Rel(v1[i]) << " is torn (" << now.size() << " bytes)";
        }
        const std::string manifest = ReadFile(Installed("app.xml"));
        ASSERT_TRUE(manifest == manifest1 || manifest == manifest2) << "kill " << k << ": manifest copy is torn";

        // When a run finished before the kill, publish the other version so that the next
        // kill again lands in an update.
        if (manifest == (publishedTwo ? manifest2 : manifest1)) {
            publishedTwo = !publishedTwo;
            publish(publishedTwo);
        }
    }
    RecordProperty("kill_points", kKills);
    RecordProperty("kills_during_a_run", interrupted);
    std::cout << "[ kill test ] " << kKills << " kill points, " << interrupted << " of them during a run\n";
    EXPECT_GE(interrupted, kKills / 2);

    // One uninterrupted run to version 2 leaves exactly version 2, and takes away what any
    // kill (this one planted for certain) left half-written beside the manifest copy.
    // The marker makes it plan every file, so it also clears what kills left in the working
    // folder under this plan's names; another name's leftover is not this run's to remove.
    WriteFile(Installed("app.xml.orvo-0123456789abcdef.tmp"), "torn");
    WriteFile(Installed("app.xml.orvo-pending.orvo-0123456789abcdef.tmp"), "");
    WriteFile(Installed("app.xml.orvo-pending"), "");
    const std::string work = WorkFolder() + "/Temp";
    WriteFile(work + "/f0.dat.orvo-0123456789abcdef.tmp", "torn");
    WriteFile(work + "/other.dat.orvo-0123456789abcdef.tmp", "not ours");
    publish(true);
    std::string out;
    ASSERT_EQ(RunUpdater(&out), 0) << out;
    std::set<std::string> expected{"app.xml", "starts"};
    for (const auto& f : v2) {
        expected.insert(Rel(f));
        EXPECT_TRUE(ReadFile(Installed(Rel(f))) == f.content) << Rel(f) << " is not version 2";
    }
    EXPECT_EQ(ReadFile(Installed("app.xml")), manifest2);
    Starts();
    std::set<std::string> found;
    for (const auto& e : std::filesystem::recursive_directory_iterator(installDir))
        if (e.is_regular_file()) found.insert(std::filesystem::relative(e.path(), installDir).string());
    EXPECT_EQ(found, expected);
    std::set<std::string> working;
    for (const auto& e : std::filesystem::directory_iterator(work)) working.insert(e.path().filename().string());
    EXPECT_EQ(working, std::set<std::string>{"other.dat.orvo-0123456789abcdef.tmp"});

    if (withDeltas) {  // the manifests' deltas are sound: a whole run back to version 1 uses them all
        publish(false);
        out.clear();  // the run before may rightly have passed over deltas of files kills had updated
        ASSERT_EQ(RunUpdater(&out), 0) << out;
        EXPECT_EQ(out.find("not used"), std::string::npos) << out;
        for (const auto& f : v1) {
            EXPECT_NE(out.find("[" + f.name + "] made from delta"), std::string::npos) << f.name << "\n" << out;
            EXPECT_TRUE(ReadFile(Installed(Rel(f))) == f.content) << Rel(f) << " is not version 1";
        }
    }
}

TEST_F(KillTest, KilledAtRandomInstantsTheInstallStaysOldOrNew) { KillAtRandomInstants(false); }

// The same while files are made from deltas: each stays old or new.
TEST_F(KillTest, KilledWhileApplyingDeltasTheInstallStaysOldOrNew) { KillAtRandomInstants(true); }

// Ctrl-C at random points of an update: the run either stops before the first installed file
// is replaced (everything stays old) or finishes the replacement and then stops (everything is
// new, and the marker beside the manifest copy makes the next run plan it all again). Nothing
// is ever written to the process's working folder.
TEST_F(KillTest, InterruptedAtRandomPointsStopsBeforeOrAfterTheWholeReplacement) {
    const int kFiles = 60, kInterrupts = 10;
    const auto v1 = Version(1, kFiles), v2 = Version(2, kFiles);
    Publish(v1);
    const std::string manifest1 = ReadFile(server.Root() + "/app.xml");
    // A run writes a line per report. Each interrupt comes once its run has written a random
    // number of the lines a whole run writes from the start of its update on (Ctrl-C is watched
    // from then): the instants follow the update's own course, which a loaded machine stretches
    // unevenly.
    std::string firstOut;
    ASSERT_EQ(RunUpdater(&firstOut), 0) << firstOut;
    const auto lines = [](const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); };
    const size_t started = firstOut.find("Overall 0/4");
    ASSERT_NE(started, std::string::npos) << firstOut;
    const size_t fromLine = lines(firstOut.substr(0, started)) + 1, allLines = lines(firstOut);
    ASSERT_LT(fromLine, allLines) << firstOut;
    Publish(v2);
    const std::string manifest2 = ReadFile(server.Root() + "/app.xml");
    const std::string cwd = m_root / "cwd";
    MakeDirs(cwd);
    const std::string marker = Installed("app.xml.orvo-pending");

    std::mt19937 rng(20261211);
    bool publishedTwo = true;
    int cancelled = 0;
    for (int k = 0; k < kInterrupts; ++k) {
        const size_t atLine = fromLine + rng() % (allLines - fromLine);
        std::remove((m_root / "out.log").c_str());  // not the last run's lines
        const pid_t pid = Start(m_root / "out.log", cwd);
        int status = 0;
        bool ended = false;
        while (!(ended = ::waitpid(pid, &status, WNOHANG) == pid) && lines(ReadFile(m_root / "out.log")) < atLine)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        if (!ended) {
            ::kill(pid, SIGINT);
            ::waitpid(pid, &status, 0);
        }
        const std::string out = ReadFile(m_root / "out.log");
        const std::string where = "interrupt " + std::to_string(k) + " at line " + std::to_string(atLine) + "\n" + out;
        if (WIFEXITED(status)) {
            ASSERT_TRUE(WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 130) << where;
            if (WEXITSTATUS(status) == 130) {
                ++cancelled;
                ASSERT_NE(out.find("Update cancelled."), std::string::npos) << where;
                ASSERT_EQ(out.find("Update failed"), std::string::npos) << where;  // reported once, as a cancel
            }
        }
        ASSERT_TRUE(std::filesystem::is_empty(cwd)) << where;

        const auto& from = publishedTwo ? v1 : v2;
        const auto& to = publishedTwo ? v2 : v1;
        size_t replaced = 0;
        for (size_t i = 0; i < from.size(); ++i) {
            const std::string now = ReadFile(Installed(Rel(from[i])));
            ASSERT_TRUE(now == from[i].content || now == to[i].content) << where << Rel(from[i]) << " is torn";
            replaced += now == to[i].content ? 1 : 0;
        }
        const std::string manifest = ReadFile(Installed("app.xml"));
        const bool finished = manifest == (publishedTwo ? manifest2 : manifest1);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 130 && !finished) {
            ASSERT_TRUE(replaced == 0 || replaced == from.size()) << where << replaced << " of " << from.size() << " replaced";
        }
        if (replaced > 0 && !finished) {
            ASSERT_TRUE(Exists(marker)) << where;
        }

        if (finished) {  // both versions' packages stay published: only the manifest changes
            publishedTwo = !publishedTwo;
            WriteFile(server.Root() + "/app.xml", publishedTwo ? manifest2 : manifest1);
        }
    }
    std::cout << "[ interrupt test ] " << kInterrupts << " interrupts, " << cancelled << " of them cancelled a run\n";
    EXPECT_GE(cancelled, kInterrupts / 3);
}
