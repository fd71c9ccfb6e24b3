// The HTTP contract of the Windows build (WinINet) under Wine, against the same native nginx and
// fault servers as the Linux suite: this Linux program serves, runs the Windows client
// (orvo_wine_http.exe) in the prefix scripts/wine-tests prepared, and checks what arrived and
// what the client reported. The Windows process reaches the servers on loopback.
#include <gtest/gtest.h>

#include <sstream>

#include "support/fault_server.h"
#include "support/nginx_server.h"
#include "support/test_env.h"
#include "wine/wine_run.h"

namespace orvo::test {
namespace {

using namespace orvo::test::wine;

struct ProbeResult {
    std::vector<int> results;  // one per download or post
    std::string text;          // "exception <code>" lines as they came
    std::string debug;         // the client's debug lines
};

class WineHttp : public IsolatedEnvTest {
protected:
    void SetUp() override {
        if (WindowsBuild().empty()) GTEST_SKIP() << "no Windows build named by ORVO_WINDOWS_BUILD (scripts/wine-tests sets it)";
        if (std::getenv("WINEPREFIX") == nullptr) GTEST_SKIP() << "no WINEPREFIX: never run Wine in the user's own prefix";
    }
    // Runs the Windows client with the arguments (each quoted as given); env: extra settings.
    ProbeResult Probe(const std::vector<std::string>& args, const std::string& env = "") const {
        std::string cmd = "cd " + Quoted(m_root.path()) + " && env ORVO_DEBUG=1 " + env + " " + Wine() + " " +
                          Quoted(WindowsBuild() + "/tests/orvo_wine_http.exe");
        for (const auto& a : args) cmd += " " + Quoted(a);
        cmd += " >" + Quoted(m_root / "probe.out") + " 2>" + Quoted(m_root / "probe.err") + " </dev/null";
        ProbeResult r;
        EXPECT_EQ(orvo::test::Run(cmd), 0) << cmd;
        r.debug = ReadFile(m_root / "probe.err");
        std::istringstream lines(ReadFile(m_root / "probe.out"));
        for (std::string line; std::getline(lines, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.rfind("exception ", 0) == 0) r.text += line + "\n";
            else if (!line.empty()) r.results.push_back(std::stoi(line));
        }
        return r;
    }
    std::string Out(const std::string& name) const { return m_root / ("out/" + name); }
};

TEST_F(WineHttp, DownloadsArriveWholeAndRefusalsLeaveNoFile) {
    NginxServer web;
    // /h1 .. /h11 end at /final.txt after that many redirects; /loop redirects to itself.
    std::string hops;
    for (int i = 2; i <= 11; ++i) hops += "\n    location = /h" + std::to_string(i) + " { return 302 /h" + std::to_string(i - 1) + "; }";
    web.AddDirectives("location = /boom { return 500 'server broke'; }\n    location = /r1 { return 301 /r2; }\n"
                      "    location = /r2 { return 302 /r3; }\n    location = /r3 { return 307 /final.txt; }\n"
                      "    location = /h1 { return 302 " + web.Url("/final.txt") + "; }\n    location = /loop { return 302 /loop; }" + hops);
    WriteFile(web.Root() + "/final.txt", "end of chain");
    std::vector<std::string> args = {"get"};
    const std::vector<uint64_t> sizes = {0, 4095, 65537, 3ull * 1024 * 1024 + 5};
    for (uint64_t size : sizes) {
        const std::string name = "f" + std::to_string(size) + ".bin";
        MakePatternFile(web.Root() + "/" + name, size);
        args.insert(args.end(), {web.Url("/" + name), WinPath(Out(name))});
    }
    MakeDirs(m_root / "out");
    WriteFile(Out("kept.bin"), "previous");
    const std::string unreachable = "http://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/x";
    const std::vector<std::pair<std::string, std::string>> more = {
        {web.Url("/missing.bin"), "missing.bin"}, {web.Url("/boom"), "boom.bin"}, {web.Url("/r1"), "chain.txt"},
        {unreachable, "u.bin"}, {web.Url("/missing.bin"), "kept.bin"}, {"ftp://127.0.0.1/x", "ftp.txt"},
        {web.Url("/h10"), "ten.txt"}, {web.Url("/h11"), "eleven.txt"}, {web.Url("/loop"), "loop.txt"}};
    for (const auto& [url, name] : more) args.insert(args.end(), {url, WinPath(Out(name))});

    const ProbeResult r = Probe(args);
    ASSERT_EQ(r.results.size(), sizes.size() + more.size()) << r.debug;
    for (size_t i = 0; i < sizes.size(); ++i) {
        const std::string name = "f" + std::to_string(sizes[i]) + ".bin";
        EXPECT_EQ(r.results[i], 1) << name;
        EXPECT_TRUE(SameFileContent(web.Root() + "/" + name, Out(name))) << name;
    }
    const int* rest = r.results.data() + sizes.size();
    EXPECT_EQ(rest[0], -1);  // 404
    EXPECT_EQ(rest[1], -1);  // 500
    EXPECT_NE(r.debug.find("[404 Not Found]"), std::string::npos) << r.debug;
    EXPECT_NE(r.debug.find("[500 Internal Server Error]"), std::string::npos) << r.debug;
    EXPECT_EQ(rest[2], 1);  // the redirect chain is followed
    EXPECT_EQ(ReadFile(Out("chain.txt")), "end of chain");
    EXPECT_EQ(rest[3], -1);
    EXPECT_NE(r.debug.find("System Error [12029]"), std::string::npos) << r.debug;  // cannot connect
    EXPECT_EQ(rest[4], -1);
    EXPECT_EQ(ReadFile(Out("kept.bin")), "previous");  // an older copy survives a refusal
    EXPECT_EQ(rest[5], -1);
    EXPECT_NE(r.debug.find("scheme [ftp] refused"), std::string::npos) << r.debug;
    // At most ten redirects, as on Linux; a loop ends there too.
    EXPECT_EQ(rest[6], 1);
    EXPECT_EQ(ReadFile(Out("ten.txt")), "end of chain");
    EXPECT_EQ(rest[7], -1);
    EXPECT_EQ(rest[8], -1);
    EXPECT_NE(r.debug.find("[12156]"), std::string::npos) << r.debug;
    for (const char* name : {"missing.bin", "boom.bin", "u.bin", "ftp.txt", "eleven.txt", "loop.txt"}) EXPECT_FALSE(Exists(Out(name))) << name;
}

TEST_F(WineHttp, MisbehavingServersFailWithoutLeavingAFile) {
    const auto head = [](const std::string& extra) { return "HTTP/1.1 200 OK\r\n" + extra + "Connection: close\r\n\r\n"; };
    const struct {
        const char* name;
        std::function<void(FaultConnection&)> serve;
        int expected;
    } cases[] = {
        {"closed mid-body", [&](FaultConnection& c) { c.ReadRequest(); c.Send(head("Content-Length: 100000\r\n")); c.SendPattern(30000); }, 0},
        {"reset mid-body",
         [&](FaultConnection& c) { c.ReadRequest(); c.Send(head("Content-Length: 100000\r\n")); c.SendPattern(30000); c.Stall(std::chrono::milliseconds(300)); c.Reset(); },
         0},
        {"stalled body",
         [&](FaultConnection& c) { c.ReadRequest(); c.Send(head("Content-Length: 100\r\n")); c.SendPattern(10); c.Stall(std::chrono::seconds(10)); },
         0},
        {"nothing at all", [&](FaultConnection& c) { c.ReadRequest(); }, -1},
    };
    // Not here: a chunked body cut short (the connection closes before the last chunk). This
    // Wine's WinINet ends it as if it were complete, so the client reports a whole download.
    for (const auto& c : cases) {
        FaultServer srv(c.serve);
        const std::string out = m_root / (std::string("fault/") + c.name + "/f.bin");
        const auto start = std::chrono::steady_clock::now();
        const ProbeResult r = Probe({"get", srv.Url("/f.bin"), WinPath(out)}, "ORVO_NET_CONNECTMS=1500 ORVO_NET_SENDMS=1500 ORVO_NET_RECEIVEMS=1500");
        ASSERT_EQ(r.results.size(), 1u) << c.name << "\n" << r.debug;
        EXPECT_EQ(r.results[0], c.expected) << c.name << "\n" << r.debug;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(9)) << c.name;
        EXPECT_FALSE(Exists(out)) << c.name;
    }
}

TEST_F(WineHttp, UploadsAndFormPostsAreSentAsLaidOut) {
    FaultServer rx([](FaultConnection& c) {
        if (c.ReadRequest()) c.Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok");
    });
    std::string dumpBytes = "MDMP\x93\xA7";
    dumpBytes += std::string(5000, '\0') + "tail";
    WriteFile(m_root / "a.dmp", dumpBytes);
    const std::string dump = WinPath(m_root / "a.dmp");
    ProbeResult r = Probe({"post", rx.Url("/debug"), "/upload.php", "userfile@" + dump, "Note=quote\" kept"});
    ASSERT_EQ(r.results, std::vector<int>{1}) << r.text << r.debug;
    r = Probe({"post", rx.Url("/form"), "", "b=2 3", "name=\u00e9&=", "a=x&y"});
    ASSERT_EQ(r.results, std::vector<int>{1}) << r.text << r.debug;
    const auto requests = rx.Requests();
    ASSERT_EQ(requests.size(), 2u);

    const RecordedRequest& up = requests[0];
    EXPECT_EQ(up.head.substr(0, up.head.find("\r\n")), "POST /debug/upload.php HTTP/1.1");
    const std::string ct = up.Header("Content-Type"), key = "multipart/form-data; boundary=";
    ASSERT_EQ(ct.rfind(key, 0), 0u) << ct;
    const std::string b = ct.substr(key.size());
    const std::string expected = "--" + b + "\r\nContent-Disposition: form-data; name=\"Note\"\r\n\r\nquote\" kept\r\n" + "--" + b +
                                 "\r\nContent-Disposition: form-data; name=\"userfile\"; filename=\"" + dump +
                                 "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + dumpBytes + "\r\n--" + b + "--\r\n";
    EXPECT_EQ(up.body, expected);
    EXPECT_EQ(up.Header("Content-Length"), std::to_string(expected.size()));
    EXPECT_EQ(up.Header("User-Agent"), "Talven Post");

    const RecordedRequest& form = requests[1];
    EXPECT_EQ(form.head.substr(0, form.head.find("\r\n")), "POST /form HTTP/1.1");
    EXPECT_EQ(form.Header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(form.Header("Content-Length"), std::to_string(form.body.size()));
    // Values are encoded from the ANSI code page: 1252 in this prefix (UTF-8 on Linux).
    EXPECT_EQ(form.body, "a=x%26y&b=2+3&name=%E9%26%3D");
}

}  // namespace
}  // namespace orvo::test
