#include "platform/msgbox.h"

#include <windows.h>

namespace platform {

void ShowMessageBox(const std::wstring& szText, const std::wstring& szCaption) {
    ::MessageBoxW(nullptr, szText.c_str(), szCaption.c_str(), MB_OK);
}

}  // namespace platform
