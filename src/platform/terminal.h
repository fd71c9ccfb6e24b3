// The process's standard error as a terminal, for the console front end.
// Linux: isatty and TIOCGWINSZ on descriptor 2; text is written as UTF-8.
// Windows: the console mode and screen buffer of the standard error handle; text is written
// with WriteConsoleW to a console and as UTF-8 otherwise.
#pragma once

#include <optional>
#include <string_view>

namespace platform {

bool StderrIsTerminal();
// Columns of the terminal on standard error; nullopt when it is not a terminal or says nothing.
std::optional<int> StderrColumns();
// Writes all of the UTF-8 text to standard error (retrying short writes).
void WriteStderr(std::string_view szUtf8);

}  // namespace platform
