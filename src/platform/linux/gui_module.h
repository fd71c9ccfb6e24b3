// The entry of the window module (GTK + WebKitGTK), loaded by gui.cpp only when a window is
// shown. Both sides are built from the same headers by the same compiler; nothing but these
// interfaces and the standard library's string types crosses between them, and no exception.
#pragma once

#include <string>

#include "platform/gui.h"

namespace platform::guimodule {

inline constexpr int kVersion = 1;
inline constexpr const char* kEntryName = "orvo_window_module";
inline constexpr const char* kFileName = "orvo-window.so";

class IModule {
public:
    // Opens the display; false (with the reason) when no window can be shown.
    virtual bool Init(std::string* pszWhy) = 0;
    virtual IDialogWindow* CreateDialog(IDialogEvents& events) = 0;
    // A message dialog: modal on the window thread; from another thread it is queued to the
    // window thread while a dialog runs (never blocking the caller), and dropped otherwise.
    virtual void MessageBox(const std::wstring& szText, const std::wstring& szCaption) = 0;

protected:
    ~IModule() = default;
};

using EntryFn = IModule* (*)(int nVersion);

// The module when it has been loaded and initialised; null otherwise (loads nothing).
IModule* LoadedModule();

}  // namespace platform::guimodule
