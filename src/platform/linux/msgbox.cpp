#include "platform/msgbox.h"

#include <cstdio>

#include "platform/linux/gui_module.h"
#include "platform/strings.h"

namespace platform {

void ShowMessageBox(const std::wstring& szText, const std::wstring& szCaption) {
    std::string text = ToUtf8(szText);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    std::fprintf(stderr, "%s: %s\n", ToUtf8(szCaption).c_str(), text.c_str());
    std::fflush(stderr);
    if (guimodule::IModule* gui = guimodule::LoadedModule()) gui->MessageBox(szText, szCaption);
}

}  // namespace platform
