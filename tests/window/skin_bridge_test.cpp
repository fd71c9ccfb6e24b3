// The skin bridge in-process: the window module's web view with a real page, called through
// the request text the dialog builds.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <sstream>

#include "platform/gui.h"
#include "platform/strings.h"
#include "support/test_env.h"
#include "support/xvfb.h"
#include "ui/FlashControl.h"
#include "ui/InvokeRequest.h"

// The toolkit and the web engine keep allocations until the process ends, and the leak checker
// cannot walk their threads' dynamic thread-local storage.
extern "C" const char* __lsan_default_options() { return "use_tls=0"; }
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libgtk-3.so\nleak:libgdk-3.so\nleak:libwebkit2gtk-4.1.so\nleak:libjavascriptcoregtk-4.1.so\n"
           "leak:libglib-2.0.so\nleak:libgobject-2.0.so\nleak:libgio-2.0.so\nleak:libfontconfig.so\nleak:libpango\n"
           "leak:libharfbuzz.so\nleak:libcairo.so\nleak:libX11.so\nleak:libgdk_pixbuf\nleak:libatk\nleak:libatspi.so\n"
           "leak:libdbus-1.so\nleak:libsoup-3.0.so\nleak:libepoxy.so\nleak:libxkbcommon.so\nleak:add_to_global_resize\n"
           "leak:_dl_resize_dtv\n";
}

namespace {

struct Events : platform::IDialogEvents {
    std::vector<std::pair<std::wstring, std::wstring>> commands;
    platform::IDialogWindow* wnd = nullptr;
    size_t want = 0;
    void OnTimer(uint32_t id) override {
        if (id == 1 && commands.size() >= want) wnd->EndModal();
        if (id == 2) wnd->EndModal();  // time is up
    }
    void OnMessage(uint32_t, uintptr_t, intptr_t) override {}
    void OnSkinCommand(const std::wstring& c, const std::wstring& a) override { commands.emplace_back(c, a); }
    void OnSize(int, int) override {}
    void OnDestroy() override {}
    // Runs the window's thread until `n` commands arrived (or 20 s passed).
    void RunUntil(size_t n) {
        want = n;
        wnd->SetTimer(1, 20);
        wnd->SetTimer(2, 20000);
        wnd->RunModal();
        wnd->KillTimer(1);
        wnd->KillTimer(2);
    }
};

// The toolkit stays bound to the first display it opened, for the rest of the process.
orvo::test::XvfbServer& Display() {
    static auto* x = new orvo::test::XvfbServer();
    return *x;
}

class SkinBridge : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Display().ok());
        static orvo::test::ScopedEnv module("ORVO_WINDOW_MODULE", orvo::test::BuiltBinary("src/app/orvo-window.so"));
        std::wstring why;
        ASSERT_TRUE(platform::WindowFrontEndAvailable(&why)) << platform::ToUtf8(why);
        wnd = platform::CreateDialogWindow(events);
        ASSERT_TRUE(wnd);
        events.wnd = wnd.get();
        flash.Attach(&wnd->Skin(platform::IDialogWindow::kSkinVisible));
        orvo::test::WriteFile(dir / "page.html", R"(<!DOCTYPE html><html><body><script>
var injected = false;
function Echo(a) { orvoHost.command("echo", a); orvoHost.command("count", String(arguments.length)); }
</script></body></html>)");
    }
    orvo::test::TempDir dir;
    Events events;
    std::unique_ptr<platform::IDialogWindow> wnd;
    OrvoUi::CFlash_main flash;
};

TEST_F(SkinBridge, LabelsReachThePageAsTheSameTextAndNeverAsScript) {
    platform::DispatchError err;
    ASSERT_TRUE(flash.LoadMovie(0, platform::FromUtf8(dir / "page.html"), &err)) << platform::ToUtf8(err.strText);
    const std::vector<std::wstring> labels = {
        L"a<b&c'd\"e>f",
        L"</string></arguments></invoke><invoke name='Echo'><arguments><string>second call",
        L"'); orvoHost.command('pwned', ''); ('",
        L"\"); injected = true; (\"",
        L"${orvoHost.command('pwned','')}",
        L"1/3 한글 파일 설치작업 중.. \\ \n end",
    };
    int failures = 0;
    for (const auto& label : labels) {
        ASSERT_TRUE(flash.CallFunction(OrvoUi::BuildInvokeRequest(L"Echo", {label}),
                                       [&](bool ok, const platform::DispatchError&) { failures += !ok; }, &err));
    }
    events.RunUntil(labels.size() * 2);
    ASSERT_EQ(events.commands.size(), labels.size() * 2);
    for (size_t i = 0; i < labels.size(); ++i) {
        EXPECT_EQ(events.commands[2 * i], (std::pair<std::wstring, std::wstring>{L"echo", labels[i]}));
        EXPECT_EQ(events.commands[2 * i + 1], (std::pair<std::wstring, std::wstring>{L"count", L"1"}));
    }
    EXPECT_EQ(failures, 0);
}

TEST_F(SkinBridge, FailuresAreReportedNotHidden) {
    platform::DispatchError err;
    EXPECT_FALSE(flash.LoadMovie(0, platform::FromUtf8(dir / "missing.html"), &err));
    EXPECT_NE(platform::ToUtf8(err.strText).find("missing.html"), std::string::npos);

    ASSERT_TRUE(flash.LoadMovie(0, platform::FromUtf8(dir / "page.html"), &err));
    // A request that is not well formed never reaches the page.
    EXPECT_FALSE(flash.CallFunction(L"<invoke name='Echo'><arguments><string>a<b</string></arguments></invoke>", nullptr, &err));
    // A function the page lacks fails through the completion, naming it.
    std::wstring missing;
    ASSERT_TRUE(flash.CallFunction(OrvoUi::BuildInvokeRequest(L"NoSuchFunction", {}),
                                   [&](bool ok, const platform::DispatchError& e) {
                                       if (!ok) missing = e.strText;
                                       events.commands.emplace_back(L"done", L"");
                                   },
                                   &err));
    events.RunUntil(1);
    EXPECT_NE(missing.find(L"NoSuchFunction"), std::wstring::npos) << platform::ToUtf8(missing);
}

// The engine's processes only draw the progress: they run at a lower priority than the window,
// and nothing else the process started (a target, say) is touched.
TEST_F(SkinBridge, TheEnginesProcessesRunBelowTheWindowsPriority) {
    const pid_t other = ::fork();
    if (other == 0) {
        ::execlp("sleep", "sleep", "30", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ASSERT_GT(other, 0);
    platform::DispatchError err;
    ASSERT_TRUE(flash.LoadMovie(0, platform::FromUtf8(dir / "page.html"), &err)) << platform::ToUtf8(err.strText);
    ASSERT_TRUE(flash.CallFunction(OrvoUi::BuildInvokeRequest(L"Echo", {L"loaded"}), nullptr, &err));
    events.RunUntil(2);

    // Every process under this one: parent, nice value, name.
    std::string table;
    ASSERT_EQ(orvo::test::Run("ps -eo pid=,ppid=,ni=,comm=", &table), 0);
    struct Proc {
        long ppid = 0;
        int nice = 0;
        std::string comm;
    };
    std::map<long, Proc> procs;
    std::istringstream in(table);
    for (std::string line; std::getline(in, line);) {
        std::istringstream row(line);  // names may hold spaces: the rest of the line
        long pid = 0;
        Proc p;
        if (row >> pid >> p.ppid >> p.nice >> std::ws && std::getline(row, p.comm)) procs[pid] = p;
    }
    const auto under = [&](long pid) {
        for (int depth = 0; depth < 8 && pid > 1; ++depth)
            if ((pid = procs[pid].ppid) == ::getpid()) return true;
        return false;
    };
    const int own = ::getpriority(PRIO_PROCESS, 0);
    int engines = 0;
    for (const auto& [pid, p] : procs) {
        if (!under(pid) || p.comm.rfind("WebKit", 0) != 0) continue;
        ++engines;
        EXPECT_GE(p.nice, std::min(own + 10, 19)) << p.comm << " " << pid;
    }
    EXPECT_GE(engines, 1) << table;
    EXPECT_EQ(procs[other].nice, own);
    ::kill(other, SIGTERM);
    ::waitpid(other, nullptr, 0);
}

}  // namespace
