#include "support/window_world.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/shape.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <thread>

#include "platform/window.h"

namespace orvo::test {

namespace {
Display* D(void* p) { return static_cast<Display*>(p); }
}  // namespace

XClient::XClient() {
    m_dpy = XOpenDisplay(nullptr);
    // Windows come and go while the tests look at them: their errors are expected.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
}

XClient::~XClient() {
    if (m_dpy != nullptr) XCloseDisplay(D(m_dpy));
}

unsigned long XClient::FindWindow(const std::string& name) {
    Display* d = D(m_dpy);
    std::function<Window(Window)> walk = [&](Window w) -> Window {
        char* n = nullptr;
        XWindowAttributes a;
        if (XGetWindowAttributes(d, w, &a) && a.map_state == IsViewable && XFetchName(d, w, &n) && n != nullptr) {
            const bool match = name == n;
            XFree(n);
            if (match) return w;
        }
        Window root, parent, *children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(d, w, &root, &parent, &children, &count)) return 0;
        Window found = 0;
        for (unsigned int i = 0; i < count && found == 0; ++i) found = walk(children[i]);
        if (children != nullptr) XFree(children);
        return found;
    };
    XSync(d, False);
    return walk(DefaultRootWindow(d));
}

bool XClient::Geometry(unsigned long w, XRect* r) {
    Display* d = D(m_dpy);
    XWindowAttributes a;
    if (!XGetWindowAttributes(d, w, &a)) return false;
    Window child;
    int x = 0, y = 0;
    XTranslateCoordinates(d, w, DefaultRootWindow(d), 0, 0, &x, &y, &child);
    *r = {x, y, a.width, a.height};
    return true;
}

unsigned long XClient::Parent(unsigned long w) {
    Window root, parent = 0, *children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(D(m_dpy), w, &root, &parent, &children, &count) && children != nullptr) XFree(children);
    return parent;
}

std::vector<XRect> XClient::ShapeRects(unsigned long w) {
    std::vector<XRect> out;
    int count = 0, ordering = 0;
    XRectangle* rects = XShapeGetRectangles(D(m_dpy), w, ShapeBounding, &count, &ordering);
    for (int i = 0; i < count; ++i) out.push_back({rects[i].x, rects[i].y, rects[i].width, rects[i].height});
    if (rects != nullptr) XFree(rects);
    return out;
}

std::vector<uint32_t> XClient::Pixels(unsigned long w, int* pWidth, int* pHeight) {
    Display* d = D(m_dpy);
    XWindowAttributes a;
    if (!XGetWindowAttributes(d, w, &a) || a.map_state != IsViewable) return {};
    XImage* img = XGetImage(d, w, 0, 0, a.width, a.height, AllPlanes, ZPixmap);
    if (img == nullptr) return {};
    std::vector<uint32_t> px(static_cast<size_t>(a.width) * a.height);
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x) px[static_cast<size_t>(y) * a.width + x] = XGetPixel(img, x, y) & 0xFFFFFF;
    XDestroyImage(img);
    *pWidth = a.width;
    *pHeight = a.height;
    return px;
}

std::vector<uint32_t> XClient::ScreenPixels(XRect r, XRect* pArea) {
    Display* d = D(m_dpy);
    const int sw = DisplayWidth(d, DefaultScreen(d)), sh = DisplayHeight(d, DefaultScreen(d));
    const int x0 = std::max(r.x, 0), y0 = std::max(r.y, 0), x1 = std::min(r.x + r.w, sw), y1 = std::min(r.y + r.h, sh);
    *pArea = {x0, y0, std::max(x1 - x0, 0), std::max(y1 - y0, 0)};
    if (pArea->w == 0 || pArea->h == 0) return {};
    XImage* img = XGetImage(d, DefaultRootWindow(d), x0, y0, pArea->w, pArea->h, AllPlanes, ZPixmap);
    if (img == nullptr) return {};
    std::vector<uint32_t> px(static_cast<size_t>(pArea->w) * pArea->h);
    for (int y = 0; y < pArea->h; ++y)
        for (int x = 0; x < pArea->w; ++x) px[static_cast<size_t>(y) * pArea->w + x] = XGetPixel(img, x, y) & 0xFFFFFF;
    XDestroyImage(img);
    return px;
}

std::string XClient::SaveScreenshot(unsigned long w, const std::string& name) {
    int width = 0, height = 0;
    const auto px = Pixels(w, &width, &height);
    const std::string dir = std::string(ORVO_BINARY_DIR) + "/test-artifacts/window";
    MakeDirs(dir);
    const std::string ppm = dir + "/" + name + ".ppm";
    std::string data = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    for (uint32_t p : px) data += {static_cast<char>(p >> 16), static_cast<char>(p >> 8), static_cast<char>(p)};
    WriteFile(ppm, data);
    const std::string png = dir + "/" + name + ".png";
    if (Run("convert '" + ppm + "' '" + png + "' 2>/dev/null") == 0) {
        ::unlink(ppm.c_str());
        return png;
    }
    return ppm;
}

void XClient::Click(int rootX, int rootY) {
    Display* d = D(m_dpy);
    XTestFakeMotionEvent(d, -1, rootX, rootY, 0);
    XSync(d, False);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    XTestFakeButtonEvent(d, 1, True, 0);
    XSync(d, False);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    XTestFakeButtonEvent(d, 1, False, 0);
    XSync(d, False);
}

void XClient::RequestClose(unsigned long w) {
    Display* d = D(m_dpy);
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = w;
    ev.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
    ev.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, w, False, NoEventMask, &ev);
    XSync(d, False);
}

unsigned long XClient::CreatePlainWindow(int w, int h) {
    Display* d = D(m_dpy);
    const Window win = XCreateSimpleWindow(d, DefaultRootWindow(d), 20, 20, w, h, 0, 0, 0x808080);
    XStoreName(d, win, "caller");
    XMapWindow(d, win);
    XSync(d, False);
    return win;
}

void XClient::DestroyWindow(unsigned long w) {
    XDestroyWindow(D(m_dpy), w);
    XSync(D(m_dpy), False);
}

int XClient::CountMessages(unsigned long w, unsigned nMessage, int timeoutMs) {
    Display* d = D(m_dpy);
    const Atom atom = XInternAtom(d, platform::kWindowMessageAtom, False);
    int count = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < until) {
        while (XPending(d) > 0) {
            XEvent ev;
            XNextEvent(d, &ev);
            if (ev.type == ClientMessage && ev.xclient.window == w && ev.xclient.message_type == atom &&
                static_cast<unsigned long>(ev.xclient.data.l[0]) == nMessage)
                ++count;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return count;
}

bool WaitFor(const std::function<bool()>& pred, int timeoutMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return true;
}

UpdaterProcess::UpdaterProcess(const std::string& command, const std::string& logPath) : m_log(logPath) {
    const std::string cmd = "exec " + command + " >'" + logPath + "' 2>&1 </dev/null";
    m_pid = ::fork();
    if (m_pid == 0) {
        ::execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
}

UpdaterProcess::~UpdaterProcess() {
    if (m_pid > 0) Wait(1);
}

int UpdaterProcess::Wait(int timeoutMs) {
    if (m_pid <= 0) return -1;
    int status = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const pid_t r = ::waitpid(m_pid, &status, WNOHANG);
        if (r == m_pid) break;
        if (std::chrono::steady_clock::now() >= until) {
            ::kill(m_pid, SIGKILL);  // the updater this test started, nothing else
            ::waitpid(m_pid, &status, 0);
            m_pid = -1;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void UpdaterProcess::Signal(int nSignal) {
    if (m_pid > 0) ::kill(m_pid, nSignal);
}

std::string UpdaterProcess::Output() const { return Exists(m_log) ? ReadFile(m_log) : std::string(); }

WindowWorld::WindowWorld() {
    binDir = m_root / "bin";
    MakeDirs(binDir);
    // The skin is unpacked beside the updater: each test has an updater of its own.
    // With its message catalogs, which it finds beside itself.
    orvo::test::Run("cp -R '" + BuiltBinary("src/app/OrvoUpdaterService") + "' '" + BuiltBinary("src/app/orvo-window.so") + "' '" +
                    BuiltBinary("src/app/locale") + "' '" + binDir + "/'");
    if (Exists(BuiltBinary("src/app/orvo-window-web.so"))) orvo::test::Run("cp '" + BuiltBinary("src/app/orvo-window-web.so") + "' '" + binDir + "/'");
}

void WindowWorld::PublishWithSkin(const std::vector<PublishedFile>& files, const std::string& skinName, const std::string& skinContent) {
    const std::string stage = m_root / "skinstage";
    MakeDirs(stage);
    MakeDirs(server.Root() + "/skin");
    WriteFile(stage + "/" + skinName, skinContent);
    orvo::test::Run("cd '" + stage + "' && rm -f '" + server.Root() + "/skin/skin.zip' && zip -q -X '" + server.Root() + "/skin/skin.zip' '" + skinName + "'");
    const std::string skinXml = "<Skin><FileHash>skin-" + std::to_string(skinContent.size()) + "</FileHash><DownloadUrl>" +
                                server.Url("/skin/skin.zip") + "</DownloadUrl><OriFileName>" + skinName + "</OriFileName><FileSize>" +
                                std::to_string(skinContent.size()) + "</FileSize></Skin>\n";
    Publish(files, skinXml);
}

void WindowWorld::PublishWithSkinFolder(const std::vector<PublishedFile>& files, const std::string& folder) {
    MakeDirs(server.Root() + "/skin");
    orvo::test::Run("cd '" + folder + "' && rm -f '" + server.Root() + "/skin/skin.zip' && zip -q -X '" + server.Root() + "/skin/skin.zip' *");
    const std::string layout = Exists(folder + "/skin.xml") ? ReadFile(folder + "/skin.xml") : std::string();
    const std::string skinXml = "<Skin><FileHash>skin-" + std::to_string(ReadFile(server.Root() + "/skin/skin.zip").size()) + "</FileHash><DownloadUrl>" +
                                server.Url("/skin/skin.zip") + "</DownloadUrl><OriFileName>skin.xml</OriFileName><FileSize>" +
                                std::to_string(layout.size()) + "</FileSize></Skin>\n";
    Publish(files, skinXml);
}

std::string WindowWorld::CopyOfDefaultSkin(const std::string& name) {
    const std::string dir = m_root / name;
    orvo::test::Run("rm -rf '" + dir + "' && cp -R '" + std::string(ORVO_SOURCE_DIR) + "/skins/default' '" + dir + "'");
    return dir;
}

std::string WindowWorld::TracingSkin() {
    std::string page = ReadFile(std::string(ORVO_SOURCE_DIR) + "/skins/html-example/skin.html");
    const std::string trace = R"(<script>
["SetInstallProgressMaxValue","SetInstallLabelText","SetInstallProgressValue",
 "SetStatesProgressMaxValue","SetStatesLabelText","SetStatesProgressValue"].forEach(function (name) {
  var f = window[name];
  window[name] = function () {
    orvoHost.command("trace", [name].concat(Array.prototype.slice.call(arguments)).join("\t"));
    return f.apply(window, arguments);
  };
});
</script>
)";
    page.insert(page.rfind("</body>"), trace);
    return page;
}

// The leak checker cannot walk the dynamic thread-local storage of the toolkit's threads (it
// crashes there), so thread-local storage is not scanned in runs that load the window module.
std::string WindowWorld::Command(const std::string& frontEnd, const std::string& caller) const {
    // The updater's own window module (another test of the process may point elsewhere).
    return "env ORVO_DEBUG=1 ORVO_WINDOW_MODULE='" + binDir + "/orvo-window.so' ORVO_SKIN_TRACE=" + skinTrace + " ORVO_FRONTEND=" + frontEnd + " LSAN_OPTIONS=suppressions=" + ORVO_SOURCE_DIR +
           "/tests/support/lsan_gui.supp:print_suppressions=0:use_tls=0 '" + binDir + "/OrvoUpdaterService' " + manifestUrl + " " + caller +
           " app.sh -v two";
}

std::vector<std::string> WindowWorld::Trace(const std::string& output) {
    std::vector<std::string> calls;
    const std::string tag = "[OVUSVC] FSCommand [trace] [";
    for (size_t at = output.find(tag); at != std::string::npos; at = output.find(tag, at + 1)) {
        const size_t start = at + tag.size();
        const size_t end = output.find("]\n", start);
        if (end == std::string::npos) break;
        calls.push_back(output.substr(start, end - start));
    }
    return calls;
}

std::map<std::string, std::string> WindowWorld::InstalledTree() const {
    std::map<std::string, std::string> tree;
    std::function<void(const std::string&)> walk = [&](const std::string& rel) {
        const std::string dir = installDir + (rel.empty() ? "" : "/" + rel);
        DIR* d = ::opendir(dir.c_str());
        if (d == nullptr) return;
        while (dirent* e = ::readdir(d)) {
            const std::string n = e->d_name;
            if (n == "." || n == ".." || n == "starts") continue;
            const std::string r = rel.empty() ? n : rel + "/" + n;
            struct stat st;
            if (::lstat((installDir + "/" + r).c_str(), &st) != 0) continue;
            if (S_ISDIR(st.st_mode)) walk(r);
            else tree[r] = ReadFile(installDir + "/" + r) + ((st.st_mode & 0111) ? " [x]" : "");
        }
        ::closedir(d);
    };
    walk("");
    return tree;
}

}  // namespace orvo::test
