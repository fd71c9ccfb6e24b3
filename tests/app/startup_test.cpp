// Start-up across real processes, with the caller window on Xvfb: Linux only (under Wine the
// updater's top-level windows would need a display too).
#ifndef _WIN32
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/MutexHandler.h"
#include "app/UpdaterApp.h"
#include "platform/debug.h"
#include "platform/strings.h"
#include "platform/sync.h"
#include "platform/window.h"
#include "support/test_env.h"
#include "support/xvfb.h"
#include "ui/CloseUpdater.h"

using namespace OrvoApp;
using UpDater::CUpdaterMgrEx;

class Startup : public orvo::test::IsolatedEnvTest {
protected:
    ~Startup() override { CUpdaterMgrEx::ReleaseInstance(); }
    // A target that records each start and its arguments.
    std::string MakeTarget() {
        const std::string target = m_root / "inst/bin/app.sh";
        orvo::test::WriteFile(target, "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]' \"$a\"; done >> \"$(dirname \"$0\")/starts\"\necho >> \"$(dirname \"$0\")/starts\"\n");
        ::chmod(target.c_str(), 0755);
        return target;
    }
    std::string Starts() {
        // The target runs detached; give it a moment to write.
        for (int i = 0; i < 100 && !orvo::test::Exists(m_root / "inst/bin/starts"); ++i) usleep(20000);
        usleep(100000);
        return orvo::test::ReadFile(m_root / "inst/bin/starts");
    }
};

TEST_F(Startup, MutexGuardsOneAddressAcrossProcesses) {
    CMutexHandler first;
    ASSERT_EQ(first.Create(L"http://h/app.xml"), CMutexHandler::Created);
    EXPECT_EQ(first.Create(L"http://h/app.xml"), CMutexHandler::AlreadyCalled);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t child = fork();
    if (child == 0) {
        CMutexHandler same, other;
        char r[2] = {static_cast<char>('0' + same.Create(L"http://h/app.xml")),
                     static_cast<char>('0' + other.Create(L"http://h/other.xml"))};
        (void)!write(fds[1], r, 2);
        _exit(0);
    }
    char r[2] = {};
    ASSERT_EQ(read(fds[0], r, 2), 2);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(r[0], '0' + CMutexHandler::AlreadyExists);
    EXPECT_EQ(r[1], '0' + CMutexHandler::Created);
}

TEST_F(Startup, TargetStartsAtMostOnceWithItsParameters) {
    MakeTarget();
    COrvoUpdaterServiceApp app;
    CUpdaterMgrEx& mgr = *CUpdaterMgrEx::GetInstance();
    mgr.m_strInstallPath = platform::FromUtf8(m_root / "inst");
    mgr.m_strExecuteFile = L".\\bin\\app.sh";
    mgr.m_strExecuteParam = L"-x \"two words\"";
    app.ExecuteApp();  // not allowed yet: nothing starts
    EXPECT_EQ(app.m_bExecuted, 0);
    mgr.m_bExecuteApp = 1;
    platform::DebugCapture capture;
    app.ExecuteApp();
    app.ExecuteApp();
    EXPECT_EQ(app.ExitInstance(), 0);
    EXPECT_EQ(Starts(), "[-x][two words]\n");
    EXPECT_TRUE(capture.Contains(L"]Execute [-x \"two words\"] Param!!!!!"));
}

TEST_F(Startup, FailedLaunchShowsOneMessageAndIsNotRetried) {
    const std::string target = m_root / "inst/app.bin";
    orvo::test::WriteFile(target, "not executable");
    COrvoUpdaterServiceApp app;
    CUpdaterMgrEx& mgr = *CUpdaterMgrEx::GetInstance();
    mgr.m_strInstallPath = platform::FromUtf8(m_root / "inst");
    mgr.m_strExecuteFile = L"app.bin";
    mgr.m_bExecuteApp = 1;
    platform::DebugCapture capture;
    app.ExecuteApp();
    EXPECT_EQ(app.ExitInstance(), 1);
    int launches = 0;
    for (const auto& l : capture.Lines()) launches += l.find(L"ShellExecuteEx [") != std::wstring::npos;
    EXPECT_EQ(launches, 1);
}

TEST_F(Startup, CallerWindowIsNotifiedUnderX) {
    orvo::test::XvfbServer x;
    ASSERT_TRUE(x.ok()) << "Xvfb did not start";
    orvo::test::MessageWindow caller;
    ASSERT_NE(caller.id(), 0u);
    MakeTarget();
    COrvoUpdaterServiceApp app;
    CUpdaterMgrEx& mgr = *CUpdaterMgrEx::GetInstance();
    mgr.m_strInstallPath = platform::FromUtf8(m_root / "inst");
    mgr.m_strExecuteFile = L"bin\\app.sh";
    mgr.SetParentWnd(std::to_wstring(caller.id()).c_str());
    ASSERT_EQ(mgr.GetParentWnd(), static_cast<platform::WindowHandle>(caller.id()));
    mgr.m_bExecuteApp = 0;  // e.g. the user closed the run: no start, but the caller hears of it

    bool closedSelf = false;
    OrvoUi::CloseUpdater(app, mgr, [&] { closedSelf = true; });
    EXPECT_FALSE(closedSelf);  // with a caller window, closing is the caller's job
    EXPECT_EQ(caller.CountMessages(platform::WM_UPDATER_CLOSED, 300), 2);
    app.ExitInstance();
    EXPECT_EQ(caller.CountMessages(platform::WM_UPDATER_CLOSED, 300), 1);
    EXPECT_FALSE(orvo::test::Exists(m_root / "inst/bin/starts"));
    EXPECT_FALSE(platform::IsWindowHandle(static_cast<platform::WindowHandle>(caller.id() + 1000)));
}

namespace {
// Holds the worker in its first report until the gate opens; counts the reports after it.
class GatedInterface : public UpDater::CMgrInterface {
public:
    GatedInterface(platform::Event& entered, platform::Event& gate, platform::Event& ended)
        : m_entered(entered), m_gate(gate), m_ended(ended) {}
    void SetInstallProgressMax(const wchar_t*, int) override {}
    void SetStatesProgressMax(const wchar_t*, int) override {}
    void SetInstallProgress(const wchar_t*, int) override {
        m_entered.Set();
        m_gate.Wait(platform::INFINITE_);
    }
    void SetStatesProgress(const wchar_t*, int) override {}
    void UpdateComplete() override { m_ended.Set(); }
    void UpdateError(const wchar_t*) override { m_ended.Set(); }

private:
    platform::Event& m_entered;
    platform::Event& m_gate;
    platform::Event& m_ended;
};
}  // namespace

// A worker that does not stop within the release's wait is given up on; it goes on running in
// the manager, which must therefore stay alive (the sanitizer sees any use after a delete).
TEST_F(Startup, ReleaseKeepsTheManagerAliveForAWorkerStillRunning) {
    static platform::Event entered(true, false), gate(true, false), ended(true, false);  // outlive the test, as the worker may
    CUpdaterMgrEx& mgr = *CUpdaterMgrEx::GetInstance();
    mgr.m_strInitXmlUrl = L"http://127.0.0.1/app.xml";
    mgr.m_strTempFolder = platform::FromUtf8(m_root / "work/Temp");
    mgr.m_EventChecker.m_dwReleaseSliceMs = 20;
    ASSERT_TRUE(mgr.StartUp(new GatedInterface(entered, gate, ended)));
    ASSERT_TRUE(entered.Wait(30000));
    EXPECT_FALSE(ReleaseSingletons());
    EXPECT_EQ(CUpdaterMgrEx::PeekInstance(), nullptr);
    gate.Set();  // the worker goes on through the (cancelled) pipeline
    EXPECT_TRUE(ended.Wait(30000));
}

TEST_F(Startup, ExecutableReportsBadCommandLinesAndCannotUpdateYet) {
    const std::string exe = "LANGUAGE= LC_ALL=C.UTF-8 " + orvo::test::BuiltBinary("src/app/OrvoUpdaterService");
    std::string out;
    EXPECT_EQ(orvo::test::Run(exe + " 2>&1", &out), 2);
    EXPECT_NE(out.find("OrvoUpdaterService: [Error] The arguments OrvoUpdaterService needs to run are not right."), std::string::npos);
    out.clear();
    EXPECT_EQ(orvo::test::Run("ORVO_DEBUG=1 " + exe + " http://127.0.0.1:1/app.xml NULL app 2>&1", &out), 1);
    EXPECT_NE(out.find("http://127.0.0.1:1/app.xml"), std::string::npos) << out;
    // A lock that cannot be taken (every lock folder open to others) is an error with a line.
    const std::string tmp = m_root / "tmp";
    for (const std::string& f : {tmp + "/orvo-" + std::to_string(::geteuid()), home() + "/.cache/orvo-locks"}) {
        orvo::test::MakeDirs(f);
        ::chmod(f.c_str(), 0777);
    }
    out.clear();
    EXPECT_EQ(orvo::test::Run("env -u XDG_RUNTIME_DIR TMPDIR=" + tmp + " " + exe + " http://127.0.0.1:1/app.xml NULL app 2>&1", &out), 1);
    EXPECT_NE(out.find("refused: other users may enter it"), std::string::npos) << out;
    EXPECT_NE(out.find("The single-instance lock for [http://127.0.0.1:1/app.xml] cannot be taken"), std::string::npos) << out;
    // No usable home: refused with a line that says so, before anything is created.
    for (const char* env : {"env -u HOME", "env HOME=relative/home"}) {
        out.clear();
        EXPECT_EQ(orvo::test::Run(std::string(env) + " " + exe + " http://127.0.0.1:1/app.xml NULL app 2>&1", &out), 1) << env;
        EXPECT_NE(out.find("OrvoUpdaterService: HOME is not"), std::string::npos) << env << "\n" << out;
    }
}
#endif
