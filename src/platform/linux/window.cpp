#include "platform/window.h"

#include <X11/Xlib.h>

#include <cstdlib>
#include <mutex>

namespace platform {

namespace {

// Xlib's error handler is process-wide; checks that provoke errors take turns.
std::mutex g_xlock;
bool g_xerror = false;

int RecordError(Display*, XErrorEvent*) {
    g_xerror = true;
    return 0;
}

// Opens the display named by $DISPLAY for one call; null without a display.
struct DisplayConnection {
    Display* dpy = nullptr;
    int (*previous)(Display*, XErrorEvent*) = nullptr;
    DisplayConnection() {
        const char* name = std::getenv("DISPLAY");
        if (name == nullptr || *name == '\0') return;
        dpy = XOpenDisplay(name);
        if (dpy != nullptr) {
            g_xerror = false;
            previous = XSetErrorHandler(RecordError);
        }
    }
    ~DisplayConnection() {
        if (dpy != nullptr) {
            XSync(dpy, False);
            XSetErrorHandler(previous);
            XCloseDisplay(dpy);
        }
    }
};

bool Exists(Display* dpy, Window w) {
    XWindowAttributes attrs;
    g_xerror = false;
    const Status ok = XGetWindowAttributes(dpy, w, &attrs);
    XSync(dpy, False);
    return ok != 0 && !g_xerror;
}

}  // namespace

bool IsWindowHandle(WindowHandle hWnd) {
    if (hWnd <= 0 || hWnd > 0x1FFFFFFF) return false;  // X ids have 29 bits
    std::lock_guard<std::mutex> lock(g_xlock);
    DisplayConnection conn;
    return conn.dpy != nullptr && Exists(conn.dpy, static_cast<Window>(hWnd));
}

bool PostWindowMessage(WindowHandle hWnd, uint32_t nMessage, uintptr_t wParam, intptr_t lParam) {
    if (hWnd <= 0 || hWnd > 0x1FFFFFFF) return false;
    std::lock_guard<std::mutex> lock(g_xlock);
    DisplayConnection conn;
    if (conn.dpy == nullptr || !Exists(conn.dpy, static_cast<Window>(hWnd))) return false;
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = static_cast<Window>(hWnd);
    ev.xclient.message_type = XInternAtom(conn.dpy, kWindowMessageAtom, False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = static_cast<long>(nMessage);
    ev.xclient.data.l[1] = static_cast<long>(wParam);
    ev.xclient.data.l[2] = static_cast<long>(lParam);
    g_xerror = false;
    const Status sent = XSendEvent(conn.dpy, static_cast<Window>(hWnd), False, NoEventMask, &ev);
    XSync(conn.dpy, False);
    return sent != 0 && !g_xerror;
}

}  // namespace platform
