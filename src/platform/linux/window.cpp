#include "platform/window.h"

#include <X11/Xlib.h>
#include <dlfcn.h>

#include <cstdlib>
#include <mutex>
#include <type_traits>

namespace platform {

namespace {

// Xlib is loaded on the first call that has a handle to look at: a run without a caller window
// (the nothing-to-update start, the terminal) never maps it. Only its headers are used here.
struct Xlib {
    decltype(&::XOpenDisplay) OpenDisplay = nullptr;
    decltype(&::XCloseDisplay) CloseDisplay = nullptr;
    decltype(&::XSetErrorHandler) SetErrorHandler = nullptr;
    decltype(&::XSync) Sync = nullptr;
    decltype(&::XGetWindowAttributes) GetWindowAttributes = nullptr;
    decltype(&::XInternAtom) InternAtom = nullptr;
    decltype(&::XSendEvent) SendEvent = nullptr;

    bool Load() {
        void* lib = ::dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
        if (lib == nullptr) return false;
        auto get = [lib](auto& fn, const char* szName) {
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(::dlsym(lib, szName));
            return fn != nullptr;
        };
        // Kept loaded for the process's life: Xlib keeps state (its error handler) of its own.
        return get(OpenDisplay, "XOpenDisplay") && get(CloseDisplay, "XCloseDisplay") &&
               get(SetErrorHandler, "XSetErrorHandler") && get(Sync, "XSync") &&
               get(GetWindowAttributes, "XGetWindowAttributes") && get(InternAtom, "XInternAtom") &&
               get(SendEvent, "XSendEvent");
    }
};

// Null when the library cannot be loaded: then no handle names a window.
const Xlib* X() {
    static const Xlib* const x = [] {
        static Xlib lib;
        return lib.Load() ? &lib : nullptr;
    }();
    return x;
}

// Xlib's error handler is process-wide; checks that provoke errors take turns.
std::mutex g_xlock;
bool g_xerror = false;

int RecordError(Display*, XErrorEvent*) {
    g_xerror = true;
    return 0;
}

// Opens the display named by $DISPLAY for one call; null without a display or without Xlib.
struct DisplayConnection {
    const Xlib* x = nullptr;
    Display* dpy = nullptr;
    int (*previous)(Display*, XErrorEvent*) = nullptr;
    DisplayConnection() {
        const char* name = std::getenv("DISPLAY");
        if (name == nullptr || *name == '\0') return;
        x = X();
        if (x == nullptr) return;
        dpy = x->OpenDisplay(name);
        if (dpy != nullptr) {
            g_xerror = false;
            previous = x->SetErrorHandler(RecordError);
        }
    }
    ~DisplayConnection() {
        if (dpy != nullptr) {
            x->Sync(dpy, False);
            x->SetErrorHandler(previous);
            x->CloseDisplay(dpy);
        }
    }
};

bool Exists(const DisplayConnection& conn, Window w) {
    XWindowAttributes attrs;
    g_xerror = false;
    const Status ok = conn.x->GetWindowAttributes(conn.dpy, w, &attrs);
    conn.x->Sync(conn.dpy, False);
    return ok != 0 && !g_xerror;
}

}  // namespace

bool IsWindowHandle(WindowHandle hWnd) {
    if (hWnd <= 0 || hWnd > 0x1FFFFFFF) return false;  // X ids have 29 bits
    std::lock_guard<std::mutex> lock(g_xlock);
    DisplayConnection conn;
    return conn.dpy != nullptr && Exists(conn, static_cast<Window>(hWnd));
}

bool PostWindowMessage(WindowHandle hWnd, uint32_t nMessage, uintptr_t wParam, intptr_t lParam) {
    if (hWnd <= 0 || hWnd > 0x1FFFFFFF) return false;
    std::lock_guard<std::mutex> lock(g_xlock);
    DisplayConnection conn;
    if (conn.dpy == nullptr || !Exists(conn, static_cast<Window>(hWnd))) return false;
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = static_cast<Window>(hWnd);
    ev.xclient.message_type = conn.x->InternAtom(conn.dpy, kWindowMessageAtom, False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = static_cast<long>(nMessage);
    ev.xclient.data.l[1] = static_cast<long>(wParam);
    ev.xclient.data.l[2] = static_cast<long>(lParam);
    g_xerror = false;
    const Status sent = conn.x->SendEvent(conn.dpy, static_cast<Window>(hWnd), False, NoEventMask, &ev);
    conn.x->Sync(conn.dpy, False);
    return sent != 0 && !g_xerror;
}

}  // namespace platform
