// A message box with an OK button.
// Linux: the text goes to stderr as one line "<caption>: <text>" (the terminal is where a
// user of a display-less run looks). Windows: MessageBoxW.
#pragma once

#include <string>

namespace platform {

void ShowMessageBox(const std::wstring& szText, const std::wstring& szCaption);

}  // namespace platform
