// The real updater against nginx over TLS, 20 ms away (through the latency relay): how many
// connections an update takes, a package download that breaks, the unchanged manifest, and
// Ctrl-C while a server stalls.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <set>

#include "support/fault_server.h"
#include "support/latency_proxy.h"
#include "support/update_world.h"

using namespace orvo::test;
using Clock = std::chrono::steady_clock;

namespace {

std::vector<PublishedFile> ManyFiles(int n, const std::string& tag) {
    std::vector<PublishedFile> files{{"app.sh", UpdateWorld::TargetScript(tag), "_INSTALL", true}};
    for (int i = 1; i < n; ++i)
        files.push_back({"f" + std::to_string(i) + ".txt", tag + " file " + std::to_string(i) + std::string(i * 100, 'x'),
                         "_INSTALL\\d" + std::to_string(i % 5)});
    return files;
}

}  // namespace

class NetworkRun : public UpdateWorld {
protected:
    NetworkRun()
        : UpdateWorld(NginxServer::Options{.https = true, .accessLog = true}),
          far(server.HttpsPort(), std::chrono::milliseconds(10)),
          ca("CURL_CA_BUNDLE", server.CaFile()) {
        urlBase = "https://127.0.0.1:" + std::to_string(far.Port());
        manifestUrl = urlBase + "/app.xml";
    }
    std::vector<AccessLogLine> Log() const { return ParseAccessLog(server.AccessLog()); }
    void ClearLog() { WriteFile(server.Root() + "/../access.log", ""); }

    LatencyProxy far;
    ScopedEnv ca;
};

TEST_F(NetworkRun, FiftyFilesTakeAFewConnectionsAndAnUnchangedManifestNoBody) {
    const auto files = ManyFiles(50, "1");
    Publish(files);
    std::string out;
    ASSERT_EQ(RunUpdater(&out), 0) << out;
    EXPECT_EQ(ReadFile(Installed("d3/f48.txt")), files[48].content);
    EXPECT_EQ(Starts(), "[-v][two words]\n");
    std::set<std::string> connections;
    int packages = 0;
    for (const auto& l : Log()) {
        connections.insert(l.connection);
        packages += l.uri.ends_with(".zip") && l.status == "200";
    }
    EXPECT_EQ(packages, 50) << server.AccessLog();
    EXPECT_GE(connections.size(), 1u);
    EXPECT_LE(connections.size(), 4u) << server.AccessLog();
    std::printf("[ measured ] 50-file update: %zu connections\n", connections.size());

    // Nothing changed: the server is asked, answers 304, and the kept copy decides.
    ClearLog();
    ::unlink(Installed("starts").c_str());
    ASSERT_EQ(RunUpdater(&out), 0) << out;
    EXPECT_EQ(Starts(), "[-v][two words]\n");
    const auto log = Log();
    ASSERT_EQ(log.size(), 1u) << server.AccessLog();
    EXPECT_EQ(log[0].uri, "/app.xml");
    EXPECT_EQ(log[0].status, "304");
    EXPECT_EQ(log[0].bytes, 0u);
    const std::string kept = WorkFolder() + "/Kept_app.xml";
    const std::string published = ReadFile(server.Root() + "/app.xml");
    EXPECT_EQ(ReadFile(kept), published);

    // Changed: fetched whole again and planned from the new copy; the working copy the run
    // before made from the kept one is replaced without touching what was kept.
    auto v2 = files;
    v2[7].content = "changed";
    Publish(v2);
    ClearLog();
    ASSERT_EQ(RunUpdater(&out), 0) << out;
    EXPECT_EQ(ReadFile(Installed("d2/f7.txt")), "changed");
    EXPECT_EQ(Log().front().status, "200");
    EXPECT_EQ(ReadFile(kept), ReadFile(server.Root() + "/app.xml"));
    EXPECT_NE(ReadFile(kept), published);
}

TEST_F(NetworkRun, APackageBrokenAtSixtyPercentResumesWithTheRest) {
    auto files = ManyFiles(2, "1");
    std::string noise(2 << 20, '\0');  // incompressible: the package is as big as the file
    uint32_t x = 88172645u;
    for (auto& c : noise) c = static_cast<char>((x ^= x << 13, x ^= x >> 17, x ^= x << 5) & 0xFF);
    files.push_back({"big.bin", noise});
    Publish(files);
    const uint64_t packageSize = static_cast<uint64_t>(std::stoull(
        [&] {
            std::string s;
            orvo::test::Run("stat -c %s '" + PackagePath(files.back()) + "'", &s);
            return s;
        }()));

    // One at a time, so the break lands in the big package; then straight to the retry.
    ScopedEnv serial("ORVO_PARALLEL_DOWNLOADS", "1"), quick("ORVO_NET_RETRYMS", "10");
    // The manifest and two small packages come first; the big one breaks at 60 %.
    std::string out;
    std::thread breaker([&] {
        for (int i = 0; i < 500; ++i) {
            if (server.AccessLog().find("f1.txt.zip") != std::string::npos) break;
            usleep(10000);
        }
        far.BreakAfter(static_cast<int64_t>(packageSize * 6 / 10));
    });
    const int rc = RunUpdater(&out);
    breaker.join();
    ASSERT_EQ(rc, 0) << out;
    EXPECT_EQ(ReadFile(Installed("big.bin")), noise);
    std::vector<AccessLogLine> big;
    for (const auto& l : Log())
        if (l.uri.ends_with("big.bin.zip")) big.push_back(l);
    ASSERT_EQ(big.size(), 2u) << server.AccessLog();
    EXPECT_EQ(big[1].status, "206") << server.AccessLog();
    const uint64_t from = packageSize - big[1].bytes;
    EXPECT_EQ(big[1].range, "\"bytes=" + std::to_string(from) + "-\"");
    EXPECT_GT(from, packageSize / 2);
    EXPECT_NE(out.find("Resuming at"), std::string::npos) << out;
}

TEST_F(NetworkRun, CtrlCDuringAStalledTransferEndsTheRunAtOnce) {
    FaultServer stall([](FaultConnection& c) {
        c.ReadRequest();
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\nPK");
        c.Stall(std::chrono::seconds(60));
    });
    auto files = ManyFiles(2, "1");
    Publish(files);
    // The last package lies on a server that stops sending.
    files.push_back({"stuck.bin", "never arrives"});
    std::string xml = ManifestXml(files, "");
    const std::string stuckUrl = urlBase + "/pkg/" + ContentId(files.back()) + "/stuck.bin.zip";
    xml.replace(xml.find(stuckUrl), stuckUrl.size(), stall.Url("/stuck.bin.zip"));
    WriteFile(server.Root() + "/app.xml", xml);

    const std::string log = m_root / "out.log";
    const std::string cmd = "unset DISPLAY; exec " + UpdaterCommand() + " >'" + log + "' 2>&1 </dev/null";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    for (int i = 0; i < 400 && stall.Requests().empty(); ++i) usleep(25000);
    ASSERT_FALSE(stall.Requests().empty()) << ReadFile(log);
    usleep(300000);  // well into the stall
    const auto pressed = Clock::now();
    ::kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - pressed);
    const std::string out = ReadFile(log);
    ASSERT_TRUE(WIFEXITED(status)) << out;
    EXPECT_EQ(WEXITSTATUS(status), 130) << out;
    EXPECT_LT(took.count(), 10000) << out;  // generous: the point is that it does not wait out the stall
    EXPECT_FALSE(Exists(Installed("app.xml")));
    std::printf("[ measured ] Ctrl-C to exit during a stalled transfer: %lld ms\n", static_cast<long long>(took.count()));
}
