// What the window tests need around a real updater run under a private X server: the updater
// started in the background (and only that process stopped, if at all), windows found and
// pictured through a connection of the test's own, clicks through XTest, the shape read back.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "support/update_world.h"
#include "support/xvfb.h"

namespace orvo::test {

struct XRect {
    int x = 0, y = 0, w = 0, h = 0;
};

// A connection to the test's X server.
class XClient {
public:
    XClient();
    ~XClient();
    XClient(const XClient&) = delete;
    XClient& operator=(const XClient&) = delete;
    bool ok() const { return m_dpy != nullptr; }

    // A viewable window with this name anywhere in the tree; 0 when none.
    unsigned long FindWindow(const std::string& name);
    // Position (root coordinates) and size; false when the window is gone.
    bool Geometry(unsigned long w, XRect* r);
    unsigned long Parent(unsigned long w);
    // The window's bounding shape as rectangles (one for an unshaped window).
    std::vector<XRect> ShapeRects(unsigned long w);
    // The window's pixels as 0xRRGGBB, row by row; empty when it cannot be read.
    std::vector<uint32_t> Pixels(unsigned long w, int* pWidth, int* pHeight);
    // The screen's pixels in the rectangle (root coordinates, clipped to the screen), row by
    // row; *pArea gets the part that was read. For windows larger than the screen.
    std::vector<uint32_t> ScreenPixels(XRect r, XRect* pArea);
    // Saves the pixels as an image under the build tree's test artifacts; returns the path.
    std::string SaveScreenshot(unsigned long w, const std::string& name);
    void Click(int rootX, int rootY);
    // Asks the window to close as a window manager would (WM_DELETE_WINDOW).
    void RequestClose(unsigned long w);
    unsigned long CreatePlainWindow(int w, int h);
    void DestroyWindow(unsigned long w);
    // Messages with this number posted to the window (see platform/window.h) within the time.
    int CountMessages(unsigned long w, unsigned nMessage, int timeoutMs);

private:
    void* m_dpy = nullptr;
};

// Polls until the predicate holds or the time is up.
bool WaitFor(const std::function<bool()>& pred, int timeoutMs);

// An updater run in the background, its output in a file.
class UpdaterProcess {
public:
    UpdaterProcess(const std::string& command, const std::string& logPath);
    ~UpdaterProcess();
    // The exit code, or -1 when it did not end in time (it is then stopped).
    int Wait(int timeoutMs);
    std::string Output() const;
    // Sends the signal to the updater this test started (and to nothing else).
    void Signal(int nSignal);
    bool OutputHas(const std::string& text) const { return Output().find(text) != std::string::npos; }

private:
    pid_t m_pid = -1;
    std::string m_log;
};

class WindowWorld : public UpdateWorld {
protected:
    WindowWorld();

    // Publishes the files and the skin page (zipped, as the manifest's Skin entry).
    void PublishWithSkin(const std::vector<PublishedFile>& files, const std::string& skinName, const std::string& skinContent);
    // Publishes the files and a native skin: every file of the folder zipped, the layout
    // skin.xml named in the Skin entry.
    void PublishWithSkinFolder(const std::vector<PublishedFile>& files, const std::string& folder);
    // A copy of the default skin's folder under the test's root, to be spoilt.
    std::string CopyOfDefaultSkin(const std::string& name);
    // The example HTML skin, with a script that reports every call it receives to the host as
    // a "trace" command (tab-separated function name and arguments), as a native skin does
    // with ORVO_SKIN_TRACE.
    static std::string TracingSkin();
    std::string Command(const std::string& frontEnd, const std::string& caller = "NULL") const;
    // "name\targ\targ" for each call the page reported, in order.
    static std::vector<std::string> Trace(const std::string& output);
    // Relative path -> content of every file below the install folder (the updater's own
    // bookkeeping excluded).
    std::map<std::string, std::string> InstalledTree() const;

    XvfbServer x;
    std::string binDir;
    // ORVO_SKIN_TRACE for the runs: "1" traces every call; "ticks" also sends a "tick" command
    // every 50 ms, which shows whether the window's thread answers.
    std::string skinTrace = "1";
};

}  // namespace orvo::test
