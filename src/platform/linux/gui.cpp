#include "platform/gui.h"

#include <dlfcn.h>

#include <cstdlib>
#include <mutex>
#include <string>

#include "platform/debug.h"
#include "platform/linux/gui_module.h"
#include "platform/folders.h"
#include "platform/strings.h"

namespace platform {

namespace guimodule {
namespace {

std::once_flag g_once;
IModule* g_module = nullptr;
std::string g_why;

std::string ModulePath() {
    if (const char* p = std::getenv("ORVO_WINDOW_MODULE"); p != nullptr && *p != '\0') return p;
    const std::wstring folder = GetPrivateModuleFolder();
    if (folder.empty()) return kFileName;
    return ToUtf8(folder) + "/" + kFileName;
}

void Load() {
    const char* forced = std::getenv("ORVO_FRONTEND");
    const std::string choice = forced != nullptr ? forced : "";
    if (choice == "terminal") {
        g_why = "the terminal front end was chosen (ORVO_FRONTEND=terminal)";
        return;
    }
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
        g_why = "no X display (DISPLAY is not set)";
        return;
    }
    const std::string path = ModulePath();
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* err = ::dlerror();
        g_why = "the window module cannot be loaded: " + std::string(err != nullptr ? err : path);
        return;
    }
    auto entry = reinterpret_cast<EntryFn>(::dlsym(handle, kEntryName));
    IModule* module = entry != nullptr ? entry(kVersion) : nullptr;
    if (module == nullptr) {
        g_why = "the window module " + path + " does not fit this updater";
        return;  // left loaded: unloading a half-initialised toolkit is not safe
    }
    if (!module->Init(&g_why)) return;
    g_module = module;
}

}  // namespace

IModule* LoadedModule() { return g_module; }

}  // namespace guimodule

bool WindowFrontEndAvailable(std::wstring* pszWhy) {
    std::call_once(guimodule::g_once, guimodule::Load);
    if (guimodule::g_module == nullptr && pszWhy != nullptr) *pszWhy = FromUtf8(guimodule::g_why);
    return guimodule::g_module != nullptr;
}

std::unique_ptr<IDialogWindow> CreateDialogWindow(IDialogEvents& events) {
    if (!WindowFrontEndAvailable()) return nullptr;
    return std::unique_ptr<IDialogWindow>(guimodule::g_module->CreateDialog(events));
}

}  // namespace platform
