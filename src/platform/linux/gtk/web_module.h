// The host of HTML skins, a module of its own (orvo-window-web.so, the only code that links the
// web engine), loaded by the window module only when a skin page is to be shown: a run with a
// native skin never maps the engine, and a system without it still shows native skins.
// Both modules are built together from these headers; only these interfaces cross.
#pragma once

#include <cairo.h>
#include <gtk/gtk.h>

#include <functional>
#include <string>

#include "platform/gui.h"

namespace platform::gtkwin::webmodule {

inline constexpr int kVersion = 1;
inline constexpr const char* kEntryName = "orvo_window_web_module";
inline constexpr const char* kFileName = "orvo-window-web.so";

using CommandHandler = std::function<void(const std::wstring&, const std::wstring&)>;

// A web view showing a skin page.
class IWebSkin : public ISkinView {
public:
    virtual GtkWidget* Widget() const = 0;
    // The visible part of the page once it has loaded (waits boundedly); null when none.
    virtual cairo_surface_t* Snapshot() = 0;
};

class IModule {
public:
    // onCommand empty: the page's commands are ignored. related: a view whose engine
    // processes the new one shares, or null.
    virtual IWebSkin* CreateSkin(CommandHandler onCommand, IWebSkin* related) = 0;

protected:
    ~IModule() = default;
};

using EntryFn = IModule* (*)(int nVersion);

// The module from beside the window module, loaded on first use; null, with the reason, when
// it is not installed or does not fit.
IModule* Load(std::string* pszWhy);

}  // namespace platform::gtkwin::webmodule
