// A message box with an OK button.
// Linux: the text goes to stderr as one line "<caption>: <text>" (the terminal is where a
// user of a display-less run looks); once the window front end is up it is also a GTK message
// dialog, modal on the window thread and queued to it from other threads (the caller does not
// wait then). Windows: MessageBoxW; without a display (Wine without X)
// no box can appear and the call returns at once.
#pragma once

#include <string>

namespace platform {

void ShowMessageBox(const std::wstring& szText, const std::wstring& szCaption);

}  // namespace platform
