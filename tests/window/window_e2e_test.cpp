// The real updater showing its window under a private X server, updating from nginx.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>

#include <signal.h>

#include "platform/skin_layout.h"
#include "platform/strings.h"
#include "platform/window.h"
#include "support/test_env.h"
#include "support/skin_picture.h"
#include "support/window_world.h"

namespace orvo::test {
namespace {

constexpr const char* kDialogName = "ORVOUpdateSvc";

std::vector<PublishedFile> App(const std::string& version) {
    // The last file's name is in the last label of each step, which is never left out.
    return {{"app.sh", UpdateWorld::TargetScript(version), "_INSTALL", true},
            {"data.bin", std::string(20000, 'd') + version, "_INSTALL\\data"},
            {"R&D notes.txt", "notes " + version}};
}

class WindowRun : public WindowWorld {};

std::string DefaultSkin() { return std::string(ORVO_SOURCE_DIR) + "/skins/default"; }

TEST_F(WindowRun, UpdatesWithTheNativeSkinWhoseBarsFollowTheReports) {
    ASSERT_TRUE(x.ok());
    XClient xc;
    ASSERT_TRUE(xc.ok());
    PublishWithSkinFolder(App("2"), DefaultSkin());

    UpdaterProcess run(Command("window"), m_root / "window.log");
    unsigned long dlg = 0;
    ASSERT_TRUE(WaitFor([&] { return (dlg = xc.FindWindow(kDialogName)) != 0; }, 30000)) << run.Output();

    // The outline is the background's alpha, pixel for pixel: shaped before it is shown.
    std::vector<XRect> shape;
    ASSERT_TRUE(WaitFor([&] { return (shape = xc.ShapeRects(dlg)).size() > 1; }, 5000));
    XRect g;
    ASSERT_TRUE(xc.Geometry(dlg, &g));
    EXPECT_EQ(g.w, 448);
    EXPECT_EQ(g.h, 198);
    int aw = 0, ah = 0;
    const auto alpha = PngAlpha(DefaultSkin() + "/background.png", &aw, &ah);
    ASSERT_EQ(aw, 448);
    std::vector<uint8_t> inShape(alpha.size(), 0);
    for (const auto& r : shape)
        for (int yy = r.y; yy < r.y + r.h; ++yy)
            for (int xx = r.x; xx < r.x + r.w; ++xx)
                if (xx >= 0 && yy >= 0 && xx < aw && yy < ah) inShape[static_cast<size_t>(yy) * aw + xx] = 1;
    size_t wrong = 0;
    for (size_t i = 0; i < alpha.size(); ++i) wrong += inShape[i] != (alpha[i] > 0);
    EXPECT_EQ(wrong, 0u) << "pixels where the shape and the background's alpha disagree";
    // Centred on the 640 x 480 screen by the shape's own centre.
    EXPECT_EQ(g.x, 320 - 8 - 440 / 2);
    EXPECT_EQ(g.y, 240 - 4 - 194 / 2);

    // During the run and at its end, the bars are filled as far as the reports said.
    ASSERT_TRUE(WaitFor([&] { return run.OutputHas("[trace] [SetStatesProgressValue"); }, 20000)) << run.Output();
    int w = 0, h = 0;
    auto px = xc.Pixels(dlg, &w, &h);
    xc.SaveScreenshot(dlg, "update-during");
    std::string seen;
    EXPECT_TRUE(BarsMatchSomeState(px, w, States(Trace(run.Output())), &seen)) << seen;
    ASSERT_TRUE(WaitFor([&] { return run.OutputHas("SetInstallProgressValue\t4\t4"); }, 20000)) << run.Output();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    px = xc.Pixels(dlg, &w, &h);
    xc.SaveScreenshot(dlg, "update-end");
    const auto endStates = States(Trace(run.Output()));
    EXPECT_TRUE(BarsMatchSomeState(px, w, {endStates.back()}, &seen)) << seen;
    EXPECT_NEAR(FilledPixels(px, w, 88, kDefaultInstallFill), 396, 2);
    // Label text: dark pixels in the overall label's rectangle.
    size_t ink = 0;
    for (int y = 66; y < 84 && y < h; ++y)
        for (int xx = 30; xx < 300 && xx < w; ++xx) ink += (px[static_cast<size_t>(y) * w + xx] & 0xFF) < 0x80;
    EXPECT_GT(ink, 30u);
    EXPECT_FALSE(run.OutputHas("Init Flash Err")) << run.Output();

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

TEST_F(WindowRun, BadSkinsAreReportedAndTheDefaultSkinShowsTheUpdate) {
    ASSERT_TRUE(x.ok());
    XClient xc;
    struct Case {
        const char* what;
        std::function<void(const std::string& folder)> spoil;
        const char* fault;  // in the skin error
    };
    const auto edit = [](std::string from, std::string to) {
        return [from, to](const std::string& dir) {
            std::string xml = ReadFile(dir + "/skin.xml");
            xml.replace(xml.find(from), from.size(), to);
            WriteFile(dir + "/skin.xml", xml);
        };
    };
    const Case cases[] = {
        {"malformed layout", [](const std::string& d) { WriteFile(d + "/skin.xml", "<Skin width=\"448\""); }, "not well-formed"},
        {"missing image", [](const std::string& d) { std::remove((d + "/close-hover.png").c_str()); }, "close-hover.png is not in the skin"},
        {"not a PNG", [](const std::string& d) { WriteFile(d + "/close.png", "GIF89a, not a PNG at all........................"); },
         "close.png is not a PNG"},
        {"image too large", [](const std::string& d) {
             std::string png = ReadFile(d + "/close.png");
             png.replace(16, 8, std::string("\0\0\x13\x88\0\0\0\x1a", 8));  // 5000 x 26 in the header
             WriteFile(d + "/close.png", png);
         }, "close.png is 5000 x 26"},
        {"outside the window", edit("x=\"412\"", "x=\"430\""), "outside the window"},
        {"no layout in the package", [](const std::string& d) { std::remove((d + "/skin.xml").c_str()); }, "no skin was downloaded"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        orvo::test::Run("rm -rf '" + installDir + "' '" + (binDir + "/Skin") + "'");
        const std::string folder = CopyOfDefaultSkin("bad");
        c.spoil(folder);
        PublishWithSkinFolder(App("2"), folder);
        UpdaterProcess run(Command("window"), m_root / "window.log");
        unsigned long dlg = 0;
        EXPECT_TRUE(WaitFor([&] { return (dlg = xc.FindWindow(kDialogName)) != 0; }, 30000)) << run.Output();
        ASSERT_EQ(run.Wait(60000), 0) << run.Output();
        const std::string out = run.Output();
        EXPECT_NE(out.find("[Error] Init Flash Err ["), std::string::npos) << out;
        EXPECT_NE(out.find(c.fault), std::string::npos) << out;
        EXPECT_NE(out.find("[trace] [SetInstallProgressValue\t4\t4]"), std::string::npos) << "the default skin showed the update";
        EXPECT_EQ(ReadFile(Installed("R&D notes.txt")), "notes 2");
        EXPECT_EQ(ReadFile(Installed("data/data.bin")), std::string(20000, 'd') + "2");
    }
}

TEST_F(WindowRun, HtmlSkinIsShownByTheWebModuleAndFallsBackWithoutIt) {
    ASSERT_TRUE(x.ok());
    XClient xc;
    PublishWithSkin(App("2"), "skin.html", TracingSkin());
    UpdaterProcess run(Command("window"), m_root / "window.log");
    ASSERT_EQ(run.Wait(90000), 0) << run.Output();
    EXPECT_NE(run.Output().find("[trace] [SetInstallProgressValue\t4\t4]"), std::string::npos) << run.Output();
    EXPECT_FALSE(run.OutputHas("Init Flash Err")) << run.Output();

    // Installed without the web engine's module: the default skin, and the skin error.
    std::remove((binDir + "/orvo-window-web.so").c_str());
    orvo::test::Run("rm -rf '" + installDir + "'");
    UpdaterProcess again(Command("window"), m_root / "window2.log");
    ASSERT_EQ(again.Wait(90000), 0) << again.Output();
    EXPECT_TRUE(again.OutputHas("[Error] Init Flash Err [an HTML skin cannot be shown: the web skin module is not installed")) << again.Output();
    EXPECT_TRUE(again.OutputHas("[trace] [SetInstallProgressValue\t4\t4]")) << again.Output();
    EXPECT_EQ(ReadFile(Installed("R&D notes.txt")), "notes 2");
}

TEST_F(WindowRun, KoreanLabelsAreDrawnWithGlyphsAndAScaledScreenGetsATwiceAsLargeWindow) {
    ASSERT_TRUE(x.ok());
    XClient xc;
    PublishWithSkinFolder(App("2"), DefaultSkin());
    // The same run three times: Korean with the system's fonts, Korean with a font that has no
    // Korean (each character a box), and on a screen scaled by two.
    const std::string fonts = m_root / "fonts.conf";
    WriteFile(fonts, "<?xml version=\"1.0\"?><fontconfig><dir>/usr/share/fonts/truetype/dejavu</dir><cachedir>" + (m_root / "fc") +
                         "</cachedir></fontconfig>");
    const std::string korean = "env LANGUAGE=ko LC_ALL=ko_KR.UTF-8 ";
    struct Picture {
        std::vector<uint32_t> px;
        int w = 0, h = 0;
    };
    const auto picture = [&](const std::string& env, const std::string& name, XRect* g) {
        orvo::test::Run("rm -rf '" + installDir + "'");
        UpdaterProcess run(env + Command("window"), m_root / (name + ".log"));
        Picture p;
        unsigned long dlg = 0;
        EXPECT_TRUE(WaitFor([&] { return (dlg = xc.FindWindow(kDialogName)) != 0; }, 30000)) << run.Output();
        EXPECT_TRUE(WaitFor([&] { return run.OutputHas("SetInstallProgressValue\t4\t4"); }, 30000)) << run.Output();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        xc.Geometry(dlg, g);
        p.px = xc.Pixels(dlg, &p.w, &p.h);
        xc.SaveScreenshot(dlg, name);
        EXPECT_EQ(run.Wait(30000), 0) << run.Output();
        return p;
    };
    XRect g1, g2, g3;
    const Picture glyphs = picture(korean, "korean", &g1);
    const Picture boxes = picture(korean + "FONTCONFIG_FILE='" + fonts + "' ", "korean-boxes", &g2);
    ASSERT_EQ(glyphs.w, boxes.w);
    ASSERT_EQ(glyphs.h, boxes.h);
    // The last labels of both runs are the same Korean texts: drawn with glyphs they differ from
    // the boxes in many pixels.
    size_t differ = 0;
    for (int y = 66; y < 138; ++y)
        for (int xx = 30; xx < 426; ++xx) {
            const size_t i = static_cast<size_t>(y) * glyphs.w + xx;
            differ += !Near(glyphs.px[i], boxes.px[i]);
        }
    EXPECT_GT(differ, 200u) << "the Korean labels look like the rendering of boxes";

    // Scaled by two: twice as large (wider than the test's screen: what is on it is read).
    orvo::test::Run("rm -rf '" + installDir + "'");
    UpdaterProcess run(std::string("env GDK_SCALE=2 ") + Command("window"), m_root / "scaled.log");
    unsigned long dlg = 0;
    ASSERT_TRUE(WaitFor([&] { return (dlg = xc.FindWindow(kDialogName)) != 0; }, 30000)) << run.Output();
    ASSERT_TRUE(WaitFor([&] { return run.OutputHas("SetInstallProgressValue\t4\t4"); }, 30000)) << run.Output();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(xc.Geometry(dlg, &g3));
    EXPECT_EQ(g3.w, 2 * 448);
    EXPECT_EQ(g3.h, 2 * 198);
    // The full overall bar's middle row: every pixel of it on the screen has the fill colour.
    XRect area;
    const auto row = xc.ScreenPixels({g3.x + 60, g3.y + 2 * 88 + 14, 792, 1}, &area);
    ASSERT_GT(area.w, 300);
    EXPECT_NEAR(static_cast<int>(CountNearColor(row, kDefaultInstallFill)), area.w, 4) << "the overall bar, full, twice as long";
    // Sharp: the card's 2-pixel border is 4 device pixels of the border colour, not a blur.
    const auto column = xc.ScreenPixels({g3.x + 2 * 200, g3.y + 2 * 22, 1, 12}, &area);
    EXPECT_GE(CountNearColor(column, 0x2a4d7a), 4u);
    EXPECT_EQ(run.Wait(30000), 0) << run.Output();
}

TEST_F(WindowRun, TheAccessibleTreeShowsTheBarsLabelsAndAPressableCloseButton) {
    ASSERT_TRUE(x.ok());
    // A session bus of the test's own; the accessibility bus is started through it. The
    // system's Python reads the tree, with the system's accessibility bindings.
    std::string bus;
    ASSERT_EQ(orvo::test::Run("dbus-daemon --session --fork --nopidfile --print-address=1 --print-pid=1", &bus), 0);
    const auto lines = Split(bus, '\n');
    ASSERT_GE(lines.size(), 2u) << bus;
    const std::string address = lines[0];
    const pid_t daemon = static_cast<pid_t>(std::stol(lines[1]));
    struct Stop {
        pid_t pid;
        ~Stop() { ::kill(pid, SIGTERM); }  // the bus this test started
    } stop{daemon};
    ScopedEnv session("DBUS_SESSION_BUS_ADDRESS", address);
    ScopedEnv bridge("NO_AT_BRIDGE", std::nullopt);

    auto files = App("2");
    std::string big(1 << 20, '\0');
    uint32_t seed = 99;
    for (char& c : big) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
    files.push_back({"big.bin", big});
    server.AddDirectives("location /pkg/ { limit_rate 128k; }");
    PublishWithSkinFolder(files, DefaultSkin());
    UpdaterProcess run(Command("window"), m_root / "window.log");
    std::string tree;
    const int rc = orvo::test::Run("/usr/bin/python3 '" + std::string(ORVO_SOURCE_DIR) + "/tests/window/fixtures/accessible_tree.py' OrvoUpdaterService --press Close 2>&1",
                                   &tree);
    ASSERT_EQ(rc, 0) << tree << run.Output();
    // The window by its name, two progress bars with values, the labels' texts, the button.
    EXPECT_NE(tree.find("\tframe\tORVOUpdateSvc\t"), std::string::npos) << tree;
    size_t bars = 0;
    for (const auto& line : Split(tree, '\n')) {
        const auto f = Split(line, '\t');
        if (f.size() == 5 && f[1] == "progress bar") {
            ++bars;
            EXPECT_FALSE(f[4].empty()) << line;
        }
    }
    EXPECT_EQ(bars, 2u) << tree;
    EXPECT_NE(tree.find("\tlabel\t"), std::string::npos) << tree;
    EXPECT_NE(tree.find("\tUpdate\t"), std::string::npos) << "the title as text\n" << tree;
    EXPECT_NE(tree.find("%\t"), std::string::npos) << "the percentage as text\n" << tree;
    EXPECT_NE(tree.find("pressed\tClose"), std::string::npos) << tree;
    // Pressed through the accessibility layer, the close button cancels as a click does.
    ASSERT_TRUE(WaitFor([&] { return run.OutputHas("[OVUSVC] FSCommand [btnClose]"); }, 10000)) << run.Output();
    EXPECT_EQ(run.Wait(60000), 130) << run.Output();
    EXPECT_FALSE(Exists(Installed("starts")));
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
    PublishWithSkinFolder(files, DefaultSkin());
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
    // The caller's own picture shows the skin drawn inside it.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    int cw = 0, ch = 0;
    const auto callerPx = xc.Pixels(caller, &cw, &ch);
    xc.SaveScreenshot(caller, "embedded-during");
    EXPECT_GT(CountNearColor(callerPx, 0xf7f9fc), 30000u) << "the skin's card";
    EXPECT_GT(CountNearColor(callerPx, 0xdde4ee), 396u * 10) << "the bars' tracks";
    xc.Click(g.x + 412 + 13, g.y + 32 + 13);  // the skin's close button
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
    skinTrace = "ticks";
    PublishWithSkinFolder(files, DefaultSkin());
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

    // While the update was being stopped the window went on answering its skin.
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
