// Loading the web skin module from beside the window module, once, on the window thread.
#include <dlfcn.h>

#include <string>

#include "platform/linux/gtk/web_module.h"

namespace platform::gtkwin::webmodule {

namespace {

std::string Folder() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&Load), &info) == 0 || info.dli_fname == nullptr) return "";
    const std::string self = info.dli_fname;
    const size_t slash = self.find_last_of('/');
    return slash == std::string::npos ? "" : self.substr(0, slash + 1);
}

}  // namespace

IModule* Load(std::string* pszWhy) {
    static bool tried = false;
    static IModule* module = nullptr;
    static std::string why;
    if (!tried) {
        tried = true;
        const std::string path = Folder() + kFileName;
        void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            const char* err = ::dlerror();
            why = "the web skin module is not installed or cannot be loaded (" + std::string(err != nullptr ? err : path) + ")";
        } else if (auto entry = reinterpret_cast<EntryFn>(::dlsym(handle, kEntryName)); entry == nullptr || (module = entry(kVersion)) == nullptr) {
            why = "the web skin module " + path + " does not fit this updater";
        }
    }
    if (module == nullptr && pszWhy != nullptr) *pszWhy = why;
    return module;
}

}  // namespace platform::gtkwin::webmodule
