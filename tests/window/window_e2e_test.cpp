// The real updater showing its window under a private X server, updating from nginx.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>

#include <signal.h>

#include "platform/window.h"
#include "support/test_env.h"
#include "support/window_world.h"

namespace orvo::test {
namespace {

constexpr const char* kDialogName = "ORVOUpdateSvc";
constexpr uint32_t kInstallFill = 0x1f6fd6;  // the default skin's bar colours
constexpr uint32_t kStatesFill = 0x1e9e57;

std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t at; (at = s.find(sep, start)) != std::string::npos; start = at + 1) out.push_back(s.substr(start, at - start));
    out.push_back(s.substr(start));
    return out;
}

size_t CountColor(const std::vector<uint32_t>& px, uint32_t color) {
    // The screen may round colours a little.
    auto near = [](uint32_t a, uint32_t b) {
        for (int s = 0; s < 24; s += 8)
            if (std::abs(static_cast<int>((a >> s) & 0xFF) - static_cast<int>((b >> s) & 0xFF)) > 6) return false;
        return true;
    };
    return static_cast<size_t>(std::count_if(px.begin(), px.end(), [&](uint32_t p) { return near(p, color); }));
}

std::vector<PublishedFile> App(const std::string& version) {
    // The last file's name is in the last label of each step, which is never left out.
    return {{"app.sh", UpdateWorld::TargetScript(version), "_INSTALL", true},
            {"data.bin", std::string(20000, 'd') + version, "_INSTALL\\data"},
            {"R&D notes.txt", "notes " + version}};
}

class WindowRun : public WindowWorld {};

TEST_F(WindowRun, UpdatesWithTheSkinWhoseCallsFollowTheReports) {
    ASSERT_TRUE(x.ok());
    XClient xc;
    ASSERT_TRUE(xc.ok());
    PublishWithSkin(App("2"), "skin.html", TracingSkin());

    UpdaterProcess run(Command("window"), m_root / "window.log");
    unsigned long dlg = 0;
    ASSERT_TRUE(WaitFor([&] { return (dlg = xc.FindWindow(kDialogName)) != 0; }, 30000)) << run.Output();

    // The outline of the skin, not a rectangle: the window is shaped before it is shown.
    std::vector<XRect> shape;
    ASSERT_TRUE(WaitFor([&] { return (shape = xc.ShapeRects(dlg)).size() > 1; }, 5000));
    XRect g;
    ASSERT_TRUE(xc.Geometry(dlg, &g));
    long area = 0;
    for (const auto& r : shape) {
        EXPECT_GE(r.x, 0);
        EXPECT_LE(r.x + r.w, g.w);
        EXPECT_LE(r.y + r.h, g.h);
        area += static_cast<long>(r.w) * r.h;
    }
    EXPECT_LT(area, static_cast<long>(g.w) * g.h);  // rounded card and badge leave corners out
    EXPECT_GT(area, static_cast<long>(g.w) * g.h * 3 / 4);
    // The skin's card is 440 wide from x 8, the badge reaches up to y 4: right and bottom edges.
    EXPECT_EQ(g.w, 448);
    EXPECT_EQ(g.h, 198);
    // Centred on the 640 x 480 screen by the shape's own centre.
    EXPECT_EQ(g.x, 320 - 8 - 440 / 2);
    EXPECT_EQ(g.y, 240 - 4 - 194 / 2);

    // During the run: both bars drawn, then the finished bars before the window closes.
    ASSERT_TRUE(WaitFor([&] { return !Trace(run.Output()).empty() && run.OutputHas("[trace] [SetStatesProgressValue"); }, 20000))
        << run.Output();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    xc.SaveScreenshot(dlg, "update-during");
    ASSERT_TRUE(WaitFor([&] { return run.OutputHas("SetInstallProgressValue\t4\t4"); }, 20000)) << run.Output();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    int w = 0, h = 0;
    const auto px = xc.Pixels(dlg, &w, &h);
    xc.SaveScreenshot(dlg, "update-end");
    EXPECT_GT(CountColor(px, kInstallFill), 396u * 10);  // the full overall bar
    EXPECT_GT(CountColor(px, kStatesFill), 396u * 10);   // the last step's full bar
    // Label text: dark pixels in the label rows of the card.
    size_t ink = 0;
    for (int y = 22 + 42; y < 22 + 60 && y < h; ++y)
        for (int xx = 28; xx < 300 && xx < w; ++xx) ink += (px[static_cast<size_t>(y) * w + xx] & 0xFF) < 0x80;
    EXPECT_GT(ink, 30u);

    ASSERT_EQ(run.Wait(30000), 0) << run.Output();
    const std::string out = run.Output();
    EXPECT_EQ(Starts(), "[-v][two]\n");

    // What the page received, in order, against what the run reported: pairs of a value call
    // and a label call, the overall bar going 1..4 of 4, each step's bar climbing to its
    // maximum. Reports still waiting when a newer one of the same kind came may be left out.
    const auto trace = Trace(out);
    ASSERT_GE(trace.size(), 10u);
    ASSERT_EQ(trace.size() % 2, 0u);
    EXPECT_EQ(Split(trace[0], '\t'), (std::vector<std::string>{"SetInstallProgressMaxValue", "4"}));
    std::vector<int> installValues;
    int statesMax = -1, statesLast = -1;
    std::vector<std::pair<int, int>> steps;  // (maximum, last value) of each step
    bool sawFileLabel = false;
    for (size_t i = 0; i < trace.size(); i += 2) {
        const auto value = Split(trace[i], '\t');
        const auto label = Split(trace[i + 1], '\t');
        ASSERT_EQ(label.size(), 2u) << trace[i + 1];
        const std::string bar = value[0].rfind("SetInstall", 0) == 0 ? "Install" : "States";
        EXPECT_EQ(label[0], "Set" + bar + "LabelText") << trace[i];
        if (value[0] == "SetInstallProgressValue") {
            EXPECT_EQ(value.at(2), "4");
            installValues.push_back(std::stoi(value[1]));
        } else if (value[0] == "SetStatesProgressMaxValue") {
            if (statesMax >= 0) steps.emplace_back(statesMax, statesLast);
            statesMax = std::stoi(value.at(1));
            statesLast = 0;
        } else if (value[0] == "SetStatesProgressValue") {
            EXPECT_EQ(std::stoi(value.at(2)), statesMax);
            EXPECT_GT(std::stoi(value[1]), statesLast);
            statesLast = std::stoi(value[1]);
        }
        sawFileLabel |= label[1].find("R&D notes.txt") != std::string::npos;
    }
    steps.emplace_back(statesMax, statesLast);
    EXPECT_EQ(installValues, (std::vector<int>{1, 2, 3, 4}));
    for (const auto& [max, last] : steps) EXPECT_EQ(last, max);
    EXPECT_TRUE(sawFileLabel) << "a file name with & reaches the skin as it is";

    // The terminal front end installs exactly the same files.
    const auto windowTree = InstalledTree();
    ASSERT_EQ(windowTree.size(), 4u);  // three files and the manifest copy
    orvo::test::Run("rm -rf '" + installDir + "'");
    UpdaterProcess terminal(Command("terminal"), m_root / "terminal.log");
    ASSERT_EQ(terminal.Wait(60000), 0) << terminal.Output();
    EXPECT_FALSE(terminal.OutputHas("FSCommand"));
    EXPECT_EQ(InstalledTree(), windowTree);
}

TEST_F(WindowRun, SkinThatCannotBeShownIsReportedAndTheUpdateStillRuns) {
    ASSERT_TRUE(x.ok());
    XClient xc;
    // A skin the web view cannot display.
    PublishWithSkin(App("2"), "skin.swf", std::string("FWS\x0a", 4) + std::string(300, '\x01'));
    // In Korean: the window's own message comes from the catalog, as the terminal's texts do.
    UpdaterProcess run("env LANGUAGE=ko LC_ALL=ko_KR.UTF-8 " + Command("window"), m_root / "window.log");
    unsigned long box = 0;
    ASSERT_TRUE(WaitFor([&] { return (box = xc.FindWindow("OrvoUpdaterService")) != 0; }, 30000)) << run.Output();
    EXPECT_TRUE(run.OutputHas("OrvoUpdaterService: [Error] Init Flash Err [")) << run.Output();
    EXPECT_TRUE(run.OutputHas("업데이트 할 목록을 준비중입니다.")) << "the skin's labels in Korean too";
    xc.SaveScreenshot(box, "skin-error-box");
    xc.RequestClose(box);
    EXPECT_EQ(run.Wait(30000), 0) << run.Output();
    EXPECT_EQ(ReadFile(Installed("R&D notes.txt")), "notes 2");
    EXPECT_EQ(Starts(), "[-v][two]\n");
}

TEST_F(WindowRun, FillsAPlainCallerWindowAndItsCloseButtonCancels) {
    ASSERT_TRUE(x.ok());
    XClient xc;
    // A slow package keeps the update running while the close button is pressed.
    auto files = App("2");
    std::string big(2 << 20, '\0');
    uint32_t seed = 12345;
    for (char& c : big) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);  // does not compress
    files.push_back({"big.bin", big});
    PublishWithSkin(files, "skin.html", TracingSkin());
    server.AddDirectives("location /pkg/ { limit_rate 256k; }");
    const unsigned long caller = xc.CreatePlainWindow(500, 260);
    XClient watcher;  // the caller's own connection, which receives the posted messages
    UpdaterProcess run(Command("window", std::to_string(caller)), m_root / "window.log");

    unsigned long dlg = 0;
    ASSERT_TRUE(WaitFor([&] { return (dlg = xc.FindWindow(kDialogName)) != 0; }, 30000)) << run.Output();
    EXPECT_EQ(xc.Parent(dlg), caller);
    XRect g, c;
    ASSERT_TRUE(xc.Geometry(dlg, &g));
    ASSERT_TRUE(xc.Geometry(caller, &c));
    EXPECT_EQ(g.x, c.x);
    EXPECT_EQ(g.y, c.y);
    EXPECT_EQ(g.w, 500);
    EXPECT_EQ(g.h, 260);
    EXPECT_TRUE(run.OutputHas("[OVUSVC] Set Parent [" + std::to_string(caller) + "]HWND")) << run.Output();

    ASSERT_TRUE(WaitFor([&] { return run.OutputHas("파일 다운로드 중") || run.OutputHas("[trace] [SetStatesProgressValue"); }, 20000))
        << run.Output();
    xc.SaveScreenshot(caller, "embedded-during");
    xc.Click(g.x + 8 + 402 + 13, g.y + 22 + 8 + 13);  // the skin's close button
    ASSERT_TRUE(WaitFor([&] { return run.OutputHas("[OVUSVC] FSCommand [btnClose]"); }, 10000)) << run.Output();
    // Cancelled: the caller hears of it (hand-over and close), the target is not started, and the
    // updater waits for its caller to end the window.
    // (The cancel waits for the package being downloaded to finish.)
    int messages = 0;
    WaitFor([&] { return (messages += xc.CountMessages(caller, platform::WM_UPDATER_CLOSED, 200)) >= 2; }, 30000);
    EXPECT_GE(messages, 2);
    EXPECT_FALSE(Exists(Installed("starts")));
    EXPECT_FALSE(Exists(Installed("big.bin")));
    // The caller goes away with the updater's window inside it: no crash, the run ends cancelled.
    xc.DestroyWindow(caller);
    EXPECT_EQ(run.Wait(30000), 130) << run.Output();
    EXPECT_FALSE(Exists(Installed("starts")));
}

TEST_F(WindowRun, CtrlCCancelsAsTheCloseButtonAndTheWindowAnswersWhileTheUpdateStops) {
    ASSERT_TRUE(x.ok());
    XClient xc;
    // The update is stuck in a component's registration when Ctrl-C comes, and stopping it
    // waits for that registration, which the test ends a second later.
    auto files = App("2");
    files.push_back({"slowreg.so", ReadFile(ORVO_FIXTURE_SLOWREG), "_INSTALL", false, true});
    PublishWithSkin(files, "skin.html", TracingSkin(true));
    const std::string mark = m_root / "registering";
    ScopedEnv markEnv("ORVO_TEST_SLOWREG_MARK", mark);
    const unsigned long caller = xc.CreatePlainWindow(500, 260);
    XClient watcher;
    UpdaterProcess run(Command("window", std::to_string(caller)), m_root / "window.log");

    ASSERT_TRUE(WaitFor([&] { return Exists(mark); }, 60000)) << run.Output();
    ASSERT_TRUE(WaitFor([&] { return xc.FindWindow(kDialogName) != 0 && run.OutputHas("FSCommand [tick]"); }, 30000)) << run.Output();
    run.Signal(SIGINT);
    ASSERT_TRUE(WaitFor([&] { return run.OutputHas("[OVUSVC] interrupted"); }, 10000)) << run.Output();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_FALSE(run.OutputHas("[VUSVC] --- UI --- ParentWnd PostMsg Updater Close")) << "the stop waits for the registration";
    std::remove(mark.c_str());
    ASSERT_TRUE(WaitFor([&] { return run.OutputHas("[VUSVC] --- UI --- ParentWnd PostMsg Updater Close"); }, 30000)) << run.Output();

    // As the close button: the caller hears of it, the target is not started, and the updater
    // waits for its caller to end the window.
    int messages = 0;
    WaitFor([&] { return (messages += xc.CountMessages(caller, platform::WM_UPDATER_CLOSED, 200)) >= 2; }, 10000);
    EXPECT_GE(messages, 2);
    EXPECT_FALSE(Exists(Installed("starts")));
    const std::string out = run.Output();
    EXPECT_NE(out.find("Update cancelled."), std::string::npos) << out;

    // While the update was being stopped the window went on answering its page.
    const size_t from = out.find("[OVUSVC] interrupted");
    const size_t to = out.find("[VUSVC] --- UI --- ParentWnd PostMsg Updater Close");
    ASSERT_NE(from, std::string::npos) << out;
    ASSERT_LT(from, to);
    size_t ticks = 0;
    for (size_t at = out.find("FSCommand [tick]", from); at != std::string::npos && at < to; at = out.find("FSCommand [tick]", at + 1)) ++ticks;
    EXPECT_GT(ticks, 10u) << "the window's thread was blocked while the update stopped";

    xc.DestroyWindow(caller);
    EXPECT_EQ(run.Wait(30000), 130) << run.Output();
    EXPECT_FALSE(Exists(Installed("starts")));
}

}  // namespace
}  // namespace orvo::test
