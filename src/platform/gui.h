// The dialog window, its timers and posted messages, the skin views it hosts, the window shape
// and message boxes while a window front end runs.
// Linux: GTK 3 in a module loaded only when a window is shown (a run that shows no window never
// maps it); a native skin (skin_layout.h) is drawn with Cairo and Pango. An HTML skin page is
// shown by a second module with the web engine, loaded only for such a skin: its script
// functions are called with their arguments as data and it posts commands to the host through
// `orvoHost.command(command, argument)`. Shapes use the X Shape extension; a caller window is a
// decimal X11 window id and the dialog is reparented into it.
// Windows: a Win32 popup window drawn with GDI, with no web engine: HTML skins cannot be shown
// there; a native skin's layout is taken but the built-in picture is drawn in its place for
// now. Shapes are window regions; a caller window is an HWND and the dialog becomes its child.
// Without a desktop (Wine with no X display, a service) no window can be shown.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/skin_layout.h"
#include "platform/window.h"

namespace platform {

inline constexpr uint32_t WM_FLASH_CALL_ = 3335;

// What a failed skin operation reports: a text, a status code and a short error code.
struct DispatchError {
    std::wstring strText;
    int32_t scode = 0;
    uint16_t wCode = 0;
};

// The dialog's side: every call arrives on the thread that runs the dialog.
class IDialogEvents {
public:
    virtual ~IDialogEvents() = default;
    virtual void OnTimer(uint32_t nId) = 0;
    virtual void OnMessage(uint32_t nMessage, uintptr_t wParam, intptr_t lParam) = 0;
    // A command posted by the visible skin page.
    virtual void OnSkinCommand(const std::wstring& szCommand, const std::wstring& szArgs) = 0;
    // The client area got a new size.
    virtual void OnSize(int nWidth, int nHeight) = 0;
    // The window is gone (closed by the dialog, or destroyed from outside with its caller).
    virtual void OnDestroy() = 0;
    // The shown window painted its skin for the first time.
    virtual void OnFirstFrame() {}
};

// One skin view. Operations return false and fill *pError when they fail.
class ISkinView {
public:
    virtual ~ISkinView() = default;
    // "Transparent": the page's uncovered pixels show what lies behind the window.
    virtual bool SetWMode(const std::wstring& szMode, DispatchError* pError) = 0;
    // 0xRRGGBB behind the page (ignored while transparent).
    virtual bool SetBackgroundColor(int32_t nColor, DispatchError* pError) = 0;
    // Starts loading the page at a local path; false when it cannot even start (no such file).
    // Calls made while the page loads wait for it. A backend may also load synchronously.
    virtual bool LoadMovie(int nLayer, const std::wstring& szPath, DispatchError* pError) = 0;
    // Shows a native skin (checked by the reader); replaces whatever was loaded before.
    virtual bool LoadLayout(const SkinLayout& layout, DispatchError* pError) = 0;
    // done gets the outcome of the last load on the dialog's thread once it is known (at once
    // when it already is, or when the backend loads synchronously).
    virtual void WhenLoaded(std::function<void(bool bOk, const DispatchError& error)> done) {
        done(true, DispatchError{});
    }
    // Calls the page's global function with the strings as its arguments. The page may answer
    // later; done (optional) gets the outcome on the dialog's thread.
    virtual void CallFunction(const std::wstring& szName, const std::vector<std::wstring>& args,
                              std::function<void(bool bOk, const DispatchError& error)> done) = 0;
    virtual bool HasWindow() const = 0;
    virtual void Move(int x, int y, int nWidth, int nHeight) = 0;
    virtual void Show(bool bShow) = 0;
};

struct WorkArea {
    int x = 0, y = 0, nWidth = 0, nHeight = 0;
};

// A 32-bit picture, rows top-down, pixels 0xAARRGGBB little-endian.
struct Picture {
    int nWidth = 0, nHeight = 0, nStride = 0;
    std::vector<uint8_t> bits;
};

class IDialogWindow {
public:
    virtual ~IDialogWindow() = default;
    // The visible skin view (kSkinVisible) and the hidden copy used for the shape (kSkinShape).
    static constexpr int kSkinVisible = 1000;
    static constexpr int kSkinShape = 1001;
    virtual ISkinView& Skin(int nId) = 0;

    virtual void SetTitle(const std::wstring& szTitle) = 0;
    virtual void Show(bool bShow) = 0;
    virtual void Move(int x, int y, int nWidth, int nHeight) = 0;
    virtual void SetTopmost() = 0;
    // Repeating timers on the dialog's thread; setting an id again restarts it.
    virtual void SetTimer(uint32_t nId, uint32_t nMilliseconds) = 0;
    virtual void KillTimer(uint32_t nId) = 0;
    // From any thread; delivered in order through IDialogEvents::OnMessage.
    virtual void PostDialogMessage(uint32_t nMessage, uintptr_t wParam, intptr_t lParam) = 0;
    // Runs the dialog's thread until EndModal.
    virtual void RunModal() = 0;
    virtual void EndModal() = 0;
    // Destroys the window (IDialogEvents::OnDestroy follows) when it still exists.
    virtual void Destroy() = 0;

    // Makes the dialog a child of the caller's window at 0,0; false when that window is gone.
    virtual bool SetParent(WindowHandle hParent) = 0;
    // The client size of a window (the caller's); false when it does not exist.
    virtual bool GetClientSize(WindowHandle hWnd, int* pWidth, int* pHeight) = 0;
    // The work area of the monitor nearest to the dialog (the primary one by default).
    virtual WorkArea MonitorWorkArea() = 0;

    // The skin view's content drawn over the picture (the page's uncovered pixels leave the
    // picture as it was). False when no picture could be taken.
    virtual bool DrawSkin(int nId, Picture& picture) = 0;
    // Clips the window to the rectangles (window coordinates); an empty list removes the clip.
    struct Rect {
        int x, y, nWidth, nHeight;
    };
    virtual bool ApplyShape(const std::vector<Rect>& rects) = 0;
    // The window's X11 id or HWND (for tests and embedding); 0 when unknown.
    virtual WindowHandle Handle() const = 0;
};

// True when a window can be shown: a usable display and the window module. The terminal
// front end is taken otherwise. ORVO_FRONTEND=terminal or =window forces the choice; *pszWhy
// names the reason when a window cannot be shown.
bool WindowFrontEndAvailable(std::wstring* pszWhy = nullptr);
// Null when no window can be shown (see WindowFrontEndAvailable).
std::unique_ptr<IDialogWindow> CreateDialogWindow(IDialogEvents& events);

}  // namespace platform
