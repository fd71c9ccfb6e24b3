// Crashes of the real updater: the dump it leaves, what a debugger makes of it, its upload, and
// the hand-over the user still gets.
//
// The sanitizer build's address sanitizer handles fatal signals itself and would end the process
// with its own report: these tests ask it (ASAN_OPTIONS) to leave SIGSEGV, SIGBUS, SIGFPE, SIGILL
// and SIGABRT to the updater's handler, as a release build has them.
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <utility>

#include "platform/folders.h"
#include "platform/registry.h"
#include "platform/strings.h"
#include "support/fault_server.h"
#include "support/update_world.h"
#include "support/xvfb.h"

using namespace orvo::test;
using namespace std::chrono_literals;

namespace {

std::string AsanOptions() {
    const char* old = std::getenv("ASAN_OPTIONS");
    std::string options = old != nullptr && *old != 0 ? std::string(old) + ":" : "";
    return options + "handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:handle_abort=0:allow_user_segv_handler=1";
}

std::vector<std::string> ListFolder(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* d = opendir(path.c_str())) {
        while (dirent* e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

// The dump name the updater's version block gives: stem, '_', the four version parts' digits.
std::string DumpNameOf(const std::string& exe) {
    uint32_t err = 0;
    const auto info = platform::ReadFixedFileInfo(platform::FromUtf8(exe), err);
    if (!info) return "OrvoUpdaterDump_0000.dmp";
    auto word = [&](size_t at) {
        uint32_t v = 0;
        for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<uint8_t>((*info)[at + i]);
        return v;
    };
    return "OrvoUpdaterDump_" + std::to_string(word(8) >> 16) + std::to_string(word(8) & 0xFFFF) +
           std::to_string(word(12) >> 16) + std::to_string(word(12) & 0xFFFF) + ".dmp";
}

// The file part of a multipart body with the given field name.
std::optional<std::string> FilePart(const RecordedRequest& r, const std::string& field) {
    const std::string type = r.Header("Content-Type");
    const size_t b = type.find("boundary=");
    if (b == std::string::npos) return std::nullopt;
    const std::string boundary = "--" + type.substr(b + 9);
    const size_t disp = r.body.find("Content-Disposition: form-data; name=\"" + field + "\"; filename=\"");
    if (disp == std::string::npos || r.body.compare(0, boundary.size(), boundary) != 0) return std::nullopt;
    const size_t start = r.body.find("\r\n\r\n", disp);
    const std::string closing = "\r\n" + boundary + "--\r\n";
    if (start == std::string::npos || r.body.size() < closing.size() ||
        r.body.compare(r.body.size() - closing.size(), closing.size(), closing) != 0)
        return std::nullopt;
    return r.body.substr(start + 4, r.body.size() - closing.size() - start - 4);
}

// A process started in the background, waited for with a bound.
struct Child {
    pid_t pid = -1;
    int status = 0;
    bool Wait(std::chrono::seconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            if (waitpid(pid, &status, WNOHANG) == pid) return true;
            std::this_thread::sleep_for(20ms);
        }
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return false;
    }
    ~Child() {
        if (pid > 0 && waitpid(pid, &status, WNOHANG) == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
        }
    }
};

// The thread of pid that is waiting for the network (the update worker), other than the main one.
std::optional<pid_t> NetworkThread(pid_t pid) {
    for (const std::string& t : ListFolder("/proc/" + std::to_string(pid) + "/task")) {
        const pid_t tid = std::atoi(t.c_str());
        if (tid == pid) continue;
        std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + t + "/syscall");
        long nr = -1;
        in >> nr;
        if (nr == SYS_poll || nr == SYS_ppoll) return tid;
    }
    return std::nullopt;
}

}  // namespace

class CrashRun : public UpdateWorld {
protected:
    CrashRun()
        : m_asan("ASAN_OPTIONS", AsanOptions()),
          m_debugUrl("ORVO_DEBUG_SERVER", m_receiver.Url("/debug")),
          m_debugLog("ORVO_DEBUG", std::string("1")) {
        MakeDirs(bin);
        EXPECT_EQ(orvo::test::Run("cp '" + BuiltExecutable("src/app/OrvoUpdaterService") + "' '" + exe + "'"), 0);
        dump = bin + "/" + DumpNameOf(exe);
    }

    // The version every test starts from, installed by an ordinary run.
    void InstallVersionOne() {
        Publish({{"app.sh", TargetScript("1"), "_INSTALL", true}, {"data.txt", "one"}});
        std::string out;
        ASSERT_EQ(RunUpdater(&out), 0) << out;
        ASSERT_EQ(ReadFile(Installed("data.txt")), "one");
        ::unlink(Installed("starts").c_str());
    }

    // Publishes version two with the data package served by a server that never answers.
    void PublishStalledVersionTwo() {
        Publish({{"app.sh", TargetScript("2"), "_INSTALL", true}, {"data.txt", "two"}});
        std::string xml = ReadFile(server.Root() + "/app.xml");
        const std::string pkg = server.Url("/pkg/" + ContentId({"data.txt", "two"}) + "/data.txt.zip");
        xml.replace(xml.find(pkg), pkg.size(), m_stall.Url("/data.txt.zip"));
        WriteFile(server.Root() + "/app.xml", xml);
    }

    Child StartUpdater(const std::string& parentWnd = "NULL") {
        return Start({exe, manifestUrl, parentWnd, "app.sh", "-v"});
    }

    Child Start(const std::vector<std::string>& argv) {
        Child c;
        c.pid = fork();
        if (c.pid == 0) {
            const std::string log = m_root / "updater.log";
            freopen(log.c_str(), "a", stderr);
            freopen("/dev/null", "r", stdin);
            std::vector<char*> args;
            for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            execv(args[0], args.data());
            _exit(127);
        }
        return c;
    }

    // Waits until the updater's request reached the server that never answers.
    void WaitForStall() {
        const auto end = std::chrono::steady_clock::now() + 60s;
        while (m_stalled.load() == 0 && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(20ms);
        ASSERT_GT(m_stalled.load(), 0) << Log();
    }

    // Starts the updater on a manifest that never comes and crashes its main thread while it
    // waits for it (the caller window is already known then).
    void CrashWhileManifestStalls(Child& c, const std::string& program, const std::string& parentWnd,
                                  const std::function<void()>& beforeFault = {}) {
        Child started = Start({program, m_stall.Url("/app.xml"), parentWnd, "app.sh", "-v"});
        c.pid = std::exchange(started.pid, -1);
        WaitForStall();
        if (beforeFault) beforeFault();
        m_stalled = 0;
        ASSERT_EQ(syscall(SYS_tgkill, c.pid, c.pid, SIGSEGV), 0);
    }

    // Crashes the update worker while it waits for the stalled package.
    void CrashWhileStalled(Child& c) {
        WaitForStall();
        std::optional<pid_t> worker;
        for (int i = 0; i < 100 && !worker; ++i, std::this_thread::sleep_for(20ms)) worker = NetworkThread(c.pid);
        ASSERT_TRUE(worker) << "no thread of the updater waits for the network";
        m_stalled = 0;
        ASSERT_EQ(syscall(SYS_tgkill, c.pid, *worker, SIGSEGV), 0);
    }

    void ExpectExitZero(Child& c) {
        ASSERT_TRUE(c.Wait(120s)) << "the updater did not end\n" << Log();
        ASSERT_TRUE(WIFEXITED(c.status)) << "ended by signal " << WTERMSIG(c.status) << "\n" << Log();
        EXPECT_EQ(WEXITSTATUS(c.status), 0) << Log();
    }

    std::string Log() const { return Exists(m_root / "updater.log") ? ReadFile(m_root / "updater.log") : ""; }

    // The debugger's backtrace of every thread of the dump.
    std::string Backtrace(const std::string& dumpPath) const {
        std::string out;
        orvo::test::Run("timeout 300 lldb --batch -c '" + dumpPath + "' '" + exe + "' -o 'thread backtrace all' 2>&1", &out);
        return out;
    }

    // Each installed file is one of its two published versions.
    void ExpectInstalledWhole() {
        const std::string app = ReadFile(Installed("app.sh"));
        EXPECT_TRUE(app == TargetScript("1") || app == TargetScript("2")) << app;
        const std::string data = ReadFile(Installed("data.txt"));
        EXPECT_TRUE(data == "one" || data == "two") << data;
    }

    std::vector<RecordedRequest> Uploads() const { return m_receiver.Requests(); }

    std::atomic<int> m_receiverStatus{200};
    std::atomic<int> m_stalled{0};
    FaultServer m_receiver{[this](FaultConnection& c) {
        RecordedRequest r;
        if (!c.ReadRequest(&r)) return;
        const int status = m_receiverStatus.load();
        c.Send("HTTP/1.1 " + std::to_string(status) + (status == 200 ? " OK" : " Internal Server Error") +
               "\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok");
    }};
    FaultServer m_stall{[this](FaultConnection& c) {
        c.ReadRequest();
        ++m_stalled;
        c.Stall(120s);
    }};
    ScopedEnv m_asan;
    ScopedEnv m_debugUrl;
    ScopedEnv m_debugLog;
    std::string bin = m_root / "bin";
    std::string exe = bin + "/OrvoUpdaterService";
    std::string dump;
};

// A shared installation (below /usr) writes its dump into the user's state folder, never beside
// itself, and the report process accepts it from there.
TEST_F(CrashRun, SharedInstallationDumpsIntoTheUsersStateFolder) {
    InstallVersionOne();
    const std::string shared = platform::ToUtf8(SharedInstallFolder(sysroot()));
    exe = shared + "/OrvoUpdaterService";
    ASSERT_EQ(orvo::test::Run("cp '" + BuiltExecutable("src/app/OrvoUpdaterService") + "' '" + exe + "'"), 0);
    PublishStalledVersionTwo();
    m_receiverStatus = 500;  // refused: the dump stays where it was written
    Child c = StartUpdater();
    CrashWhileStalled(c);
    ExpectExitZero(c);
    const std::string dumpPath = std::string(std::getenv("XDG_STATE_HOME")) + "/OrvoUpdaterService/" + DumpNameOf(exe);
    ASSERT_TRUE(Exists(dumpPath)) << Log();
    EXPECT_EQ(ReadFile(dumpPath).substr(0, 4), "MDMP");
    EXPECT_EQ(Uploads().size(), 1u) << Log();
    EXPECT_EQ(ListFolder(shared), std::vector<std::string>{"OrvoUpdaterService"});
}

// A fatal signal in the update worker while it waits for a package: the dump names the worker's
// function, it reaches the server byte for byte, a refused upload keeps it and the next crash
// replaces it, an accepted one deletes it; nothing is installed and the target is not started.
TEST_F(CrashRun, WorkerThreadFaultDuringStalledDownload) {
    InstallVersionOne();
    PublishStalledVersionTwo();

    std::string first;
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("crash " + std::to_string(round + 1));
        m_receiverStatus = round < 2 ? 500 : 200;
        Child c = StartUpdater();
        CrashWhileStalled(c);
        ExpectExitZero(c);

        const auto uploads = Uploads();
        ASSERT_EQ(uploads.size(), static_cast<size_t>(round + 1)) << Log();
        const RecordedRequest& up = uploads.back();
        EXPECT_EQ(up.head.rfind("POST /debug/upload.php HTTP/1.1\r\n", 0), 0u) << up.head;
        const auto part = FilePart(up, "userfile");
        ASSERT_TRUE(part) << up.body.substr(0, 400);
        ASSERT_EQ(part->compare(0, 4, "MDMP"), 0);

        if (round < 2) {
            // Refused: the dump stays, the very bytes that were sent; a second crash replaces it.
            ASSERT_TRUE(Exists(dump)) << Log();
            EXPECT_EQ(ReadFile(dump), *part);
            EXPECT_EQ(ListFolder(bin).size(), 2u);  // the program and one dump
            if (round == 0) {
                first = *part;
                const std::string bt = Backtrace(dump);
                EXPECT_NE(bt.find("stop reason = signal SIGSEGV"), std::string::npos) << bt;
                EXPECT_NE(bt.find("DownloadUpdateFile"), std::string::npos) << bt;
                // The other threads too: the main one waits in the terminal front end.
                EXPECT_NE(bt.find("thread #2"), std::string::npos) << bt;
                EXPECT_NE(bt.find("RunConsoleFrontEnd"), std::string::npos) << bt;
            } else {
                EXPECT_NE(*part, first);
            }
        } else {
            // Accepted: deleted, and the uploaded copy is a dump the debugger reads.
            EXPECT_FALSE(Exists(dump)) << Log();
            WriteFile(m_root / "uploaded.dmp", *part);
            const std::string bt = Backtrace(m_root / "uploaded.dmp");
            EXPECT_NE(bt.find("DownloadUpdateFile"), std::string::npos) << bt;
        }
        EXPECT_FALSE(Exists(Installed("starts"))) << "the target was started after an unfinished update";
        EXPECT_EQ(ReadFile(Installed("data.txt")), "one");
        ExpectInstalledWhole();
    }
}

// A component whose registration dereferences null, with a caller window and no reachable debug
// server: the dump names the entry point and stays, the caller hears 3034, the target (not due)
// is not started, and the installed application is whole.
TEST_F(CrashRun, ComponentRegistrationFaultNotifiesCaller) {
    XvfbServer x;
    if (!x.ok()) GTEST_SKIP() << "Xvfb is not available";
    MessageWindow caller;
    InstallVersionOne();
    Publish({{"app.sh", TargetScript("2"), "_INSTALL", true}, {"data.txt", "two"},
             {"crashreg.so", ReadFile(ORVO_FIXTURE_CRASHREG), "_INSTALL", false, true}});
    ScopedEnv unreachable("ORVO_DEBUG_SERVER", "http://127.0.0.1:9/debug");

    Child c = StartUpdater(std::to_string(caller.id()));
    ExpectExitZero(c);

    ASSERT_TRUE(Exists(dump)) << Log();
    const std::string bt = Backtrace(dump);
    EXPECT_NE(bt.find("stop reason = signal SIGSEGV"), std::string::npos) << bt;
    EXPECT_NE(bt.find("DllRegisterServer"), std::string::npos) << bt;
    EXPECT_NE(bt.find("RegisterComponents"), std::string::npos) << bt;
    EXPECT_GE(caller.CountMessages(3034, 2000), 1);
    EXPECT_FALSE(Exists(Installed("starts")));
    ExpectInstalledWhole();
    EXPECT_TRUE(Uploads().empty());
}

// The updater's folder deleted during the run is made again for the dump.
TEST_F(CrashRun, MissingUpdaterFolderIsRecreated) {
    InstallVersionOne();
    PublishStalledVersionTwo();
    m_receiverStatus = 500;
    Child c = StartUpdater();
    WaitForStall();
    ASSERT_EQ(orvo::test::Run("rm -rf '" + bin + "'"), 0);
    CrashWhileStalled(c);
    ExpectExitZero(c);
    EXPECT_TRUE(Exists(dump)) << Log();
    ASSERT_EQ(Uploads().size(), 1u) << Log();
    EXPECT_EQ(FilePart(Uploads()[0], "userfile").value_or(""), ReadFile(dump));
}

// A process that a crash handler started (marked in its environment) writes its dump but never
// starts another: a fault there ends it by the signal, with no upload.
TEST_F(CrashRun, ProcessStartedAfterACrashDoesNotReexecute) {
    InstallVersionOne();
    PublishStalledVersionTwo();
    ScopedEnv mark("ORVO_CRASH_REPORTED", std::string("1"));
    Child c = StartUpdater();
    CrashWhileStalled(c);
    ASSERT_TRUE(c.Wait(120s)) << Log();
    ASSERT_TRUE(WIFSIGNALED(c.status)) << Log();
    EXPECT_EQ(WTERMSIG(c.status), SIGSEGV);
    EXPECT_TRUE(Exists(dump));
    EXPECT_EQ(m_receiver.Connections(), 0);
}

// The report process the handler starts: it uploads, deletes on acceptance, starts the target
// only when it was due, always notifies the caller window, and exits 0; without a dump (none
// could be written) it still hands over.
TEST_F(CrashRun, ReportModeHandsOver) {
    XvfbServer x;
    if (!x.ok()) GTEST_SKIP() << "Xvfb is not available";
    MakeDirs(installDir);
    // The target records its arguments and whether it inherited the re-execution mark.
    WriteFile(Installed("app.sh"), "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]' \"$a\"; done >> \"$(dirname \"$0\")/starts\"\n"
                                   "echo \" mark=$ORVO_CRASH_REPORTED\" >> \"$(dirname \"$0\")/starts\"\n");
    ASSERT_EQ(orvo::test::Run("chmod +x '" + Installed("app.sh") + "'"), 0);
    ScopedEnv mark("ORVO_CRASH_REPORTED", std::string("1"));  // as the handler starts it
    const std::string bytes = std::string("MDMP") + std::string(100, '\x01') + "end";
    struct Case {
        const char* due;
        bool withDump;
    } cases[] = {{"1", true}, {"0", true}, {"1", false}};
    size_t uploads = 0;
    for (const Case& k : cases) {
        SCOPED_TRACE(std::string("due ") + k.due + (k.withDump ? " with dump" : " without dump"));
        MessageWindow caller;
        ::unlink(Installed("starts").c_str());
        if (k.withDump) WriteFile(dump, bytes);
        Child c = Start({exe, "--crash-report", k.withDump ? dump : "", k.due, std::to_string(caller.id()),
                         Installed("app.sh"), "-v \"two words\""});
        ExpectExitZero(c);
        EXPECT_GE(caller.CountMessages(3034, 2000), 1);
        if (k.due == std::string("1")) EXPECT_EQ(Starts(), "[-v][two words] mark=\n");
        else EXPECT_FALSE(Exists(Installed("starts")));
        if (k.withDump) {
            ++uploads;
            ASSERT_EQ(Uploads().size(), uploads) << Log();
            EXPECT_EQ(FilePart(Uploads().back(), "userfile").value_or(""), bytes);
            EXPECT_FALSE(Exists(dump));
        }
        EXPECT_EQ(Uploads().size(), uploads);
    }
}

// With the machine policy turning the upload off, the dump stays local and nothing is sent.
TEST_F(CrashRun, UploadTurnedOffByMachinePolicy) {
    platform::RegKey key;
    ASSERT_EQ(platform::RegKey::Create(platform::RootLocalMachine, L"Software\\TALVEN\\OrvoUpdaterService", key), 0u);
    ASSERT_EQ(key.SetValue(L"DisableCrashUpload", platform::REG_DWORD_, platform::EncodeRegDword(1)), 0u);
    WriteFile(dump, "MDMP kept here");
    Child c = Start({exe, "--crash-report", dump, "0", "NULL", "", ""});
    ExpectExitZero(c);
    EXPECT_EQ(ReadFile(dump), "MDMP kept here");
    EXPECT_EQ(m_receiver.Connections(), 0);
}

// Started by hand with a file that is not this updater's dump: refused, nothing sent, the file
// untouched, no hand-over.
TEST_F(CrashRun, ReportModeRefusesOtherFiles) {
    const std::string secret = m_root / "secret.dmp";
    WriteFile(secret, "MDMP private");
    WriteFile(bin + "/notes.dmp", "MDMP notes");
    MakeDirs(installDir);
    WriteFile(Installed("app.sh"), TargetScript("1"));
    ASSERT_EQ(orvo::test::Run("chmod +x '" + Installed("app.sh") + "'"), 0);
    const std::string link = bin + "/OrvoUpdaterDump_7.dmp";
    ASSERT_EQ(symlink(secret.c_str(), link.c_str()), 0);
    const std::string text = bin + "/OrvoUpdaterDump_8.dmp";
    WriteFile(text, "not a dump");
    for (const std::string& path : {secret, bin + "/../secret.dmp", link, bin + "/notes.dmp", text,
                                    bin + "/OrvoUpdaterDump_/../../secret.dmp", std::string("/etc/passwd")}) {
        SCOPED_TRACE(path);
        Child c = Start({exe, "--crash-report", path, "1", "NULL", Installed("app.sh"), ""});
        ASSERT_TRUE(c.Wait(60s));
        ASSERT_TRUE(WIFEXITED(c.status));
        EXPECT_EQ(WEXITSTATUS(c.status), 2);
        EXPECT_NE(Log().find("refusing the crash report: '" + path + "'"), std::string::npos) << Log();
    }
    Child c = Start({exe, "--crash-report", dump});
    ASSERT_TRUE(c.Wait(60s));
    EXPECT_EQ(WEXITSTATUS(c.status), 2);
    EXPECT_EQ(m_receiver.Connections(), 0);
    EXPECT_EQ(ReadFile(secret), "MDMP private");
    EXPECT_FALSE(Exists(Installed("starts")));
}

// A crash of the report process itself ends it: no second dump, no second report.
TEST_F(CrashRun, FaultInReportModeDoesNotReportAgain) {
    const std::string bytes = "MDMP first crash";
    WriteFile(dump, bytes);
    ScopedEnv stalled("ORVO_DEBUG_SERVER", m_stall.Url("/debug"));
    Child c = Start({exe, "--crash-report", dump, "0", "NULL", "", ""});
    const auto end = std::chrono::steady_clock::now() + 60s;
    while (m_stalled.load() == 0 && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(20ms);
    ASSERT_GT(m_stalled.load(), 0) << Log();
    ASSERT_EQ(kill(c.pid, SIGSEGV), 0);
    ASSERT_TRUE(c.Wait(60s));
    ASSERT_TRUE(WIFSIGNALED(c.status)) << Log();
    EXPECT_EQ(WTERMSIG(c.status), SIGSEGV);
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(m_stall.Connections(), 1);
    EXPECT_EQ(ReadFile(dump), bytes);
    EXPECT_EQ(ListFolder(bin).size(), 2u);
}

// The environment holds secrets (here a proxy password): neither the dump nor its upload carries
// any of it, whichever thread faults, while the command line stays in the dump.
TEST_F(CrashRun, EnvironmentStaysOutOfTheDump) {
    const std::string marker = "env-marker-0d9c4e7a61b2f853";
    const std::string password = "proxy-password-5e1f7b9a3c";
    ScopedEnv markerVar("ORVO_TEST_MARKER", marker);
    ScopedEnv proxy("http_proxy", "http://tester:" + password + "@127.0.0.1:9");
    ScopedEnv direct("no_proxy", std::string("127.0.0.1,localhost"));
    m_receiverStatus = 500;  // the dump stays, to be searched too
    InstallVersionOne();
    PublishStalledVersionTwo();
    for (const bool worker : {true, false}) {
        SCOPED_TRACE(worker ? "the update worker faults" : "the main thread faults");
        Child c;
        if (worker) {
            Child started = StartUpdater();
            c.pid = std::exchange(started.pid, -1);
            CrashWhileStalled(c);
        } else {
            CrashWhileManifestStalls(c, exe, "NULL");
        }
        ExpectExitZero(c);
        ASSERT_TRUE(Exists(dump)) << Log();
        const std::string bytes = ReadFile(dump);
        const auto uploads = Uploads();
        ASSERT_FALSE(uploads.empty()) << Log();
        EXPECT_EQ(FilePart(uploads.back(), "userfile").value_or(""), bytes);
        for (const std::string& secret : {marker, password}) {
            EXPECT_EQ(bytes.find(secret), std::string::npos) << secret;
            EXPECT_EQ(uploads.back().head.find(secret), std::string::npos) << secret;
            EXPECT_EQ(uploads.back().body.find(secret), std::string::npos) << secret;
        }
        const std::string manifest = worker ? manifestUrl : m_stall.Url("/app.xml");
        EXPECT_NE(bytes.find(manifest + '\0'), std::string::npos) << "the command line is missing";
    }
}

// A library mapped into the updater is truncated in place (as an upgrade under a running
// process does) before the fault: reading it would raise a SIGBUS of its own, yet the dump is
// written and readable, uploaded, and the caller still hears from the updater.
TEST_F(CrashRun, TruncatedLibraryDoesNotStopTheReport) {
    XvfbServer x;
    if (!x.ok()) GTEST_SKIP() << "Xvfb is not available";
    MessageWindow caller;
    const std::string library = m_root / "preloaded.so";
    WriteFile(library, ReadFile(ORVO_FIXTURE_CRASHREG));
    {
        ScopedEnv preload("LD_PRELOAD", library);
        ScopedEnv asan("ASAN_OPTIONS", AsanOptions() + ":verify_asan_link_order=0");
        Child c;
        CrashWhileManifestStalls(c, exe, std::to_string(caller.id()),
                                 [&] { ASSERT_EQ(::truncate(library.c_str(), 0), 0); });
        ExpectExitZero(c);
        EXPECT_GE(caller.CountMessages(3034, 2000), 1);
    }
    ASSERT_EQ(Uploads().size(), 1u) << Log();
    EXPECT_FALSE(Exists(dump));
    WriteFile(m_root / "uploaded.dmp", FilePart(Uploads()[0], "userfile").value_or(""));
    const std::string bt = Backtrace(m_root / "uploaded.dmp");
    EXPECT_NE(bt.find("stop reason = signal SIGSEGV"), std::string::npos) << bt;
    EXPECT_NE(bt.find("main"), std::string::npos) << bt;
}

// A dump path one byte longer than the handler can hold: no dump, but the crash still ends in
// the report process, which hands over and exits 0.
TEST_F(CrashRun, OverlongDumpPathStillHandsOver) {
    XvfbServer x;
    if (!x.ok()) GTEST_SKIP() << "Xvfb is not available";
    MessageWindow caller;
    const std::string name = DumpNameOf(exe);
    const size_t limit = 4095;  // bytes of a path the kernel takes
    const size_t folderSize = limit + 1 - 1 - name.size();
    std::string folder = m_root / "deep";
    while (folder.size() < folderSize) {
        const size_t rest = folderSize - folder.size();
        folder += "/" + std::string(rest <= 201 ? rest - 1 : rest - 201 >= 2 ? 200 : 100, 'd');
    }
    ASSERT_EQ(folder.size() + 1 + name.size(), limit + 1);
    for (size_t at = 1; at <= folder.size(); ++at)
        if (at == folder.size() || folder[at] == '/') ::mkdir(folder.substr(0, at).c_str(), 0755);
    const std::string program = folder + "/OrvoUpdaterService";
    ASSERT_EQ(orvo::test::Run("cp '" + exe + "' '" + program + "'"), 0);

    Child c;
    CrashWhileManifestStalls(c, program, std::to_string(caller.id()));
    ExpectExitZero(c);
    EXPECT_GE(caller.CountMessages(3034, 2000), 1);
    EXPECT_EQ(ListFolder(folder), std::vector<std::string>{"OrvoUpdaterService"});
    EXPECT_EQ(m_receiver.Connections(), 0);
    EXPECT_NE(Log().find("no dump could be written"), std::string::npos) << Log();
}
