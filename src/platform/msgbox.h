// A message box with an OK button.
// Linux: the text goes to stderr as one line "<caption>: <text>" (the terminal is where a
// user of a display-less run looks); once the window front end is up it is also a GTK message
// dialog, modal on the window thread and queued to it from other threads (the caller does not
// wait then). Windows: the same line when standard error leads somewhere (started from a
// console or redirected); while the dialog window exists also a MessageBoxW (queued to the
// dialog's thread from other threads, as on Linux); otherwise a MessageBoxW only when no line
// was written, and when no box can be shown (Wine without a display) a debug line says so.
#pragma once

#include <string>

namespace platform {

void ShowMessageBox(const std::wstring& szText, const std::wstring& szCaption);

}  // namespace platform
