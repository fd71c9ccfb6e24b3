// The process's standard error as a terminal, for the console front end.
// Linux: isatty and TIOCGWINSZ on descriptor 2; text is written as UTF-8.
// Windows: the console mode and screen buffer of the standard error handle; text is written
// with WriteConsoleW to a console and as UTF-8 otherwise.
#pragma once

#include <memory>
#include <optional>
#include <string_view>

#include "platform/sync.h"

namespace platform {

bool StderrIsTerminal();
// Columns of the terminal on standard error; nullopt when it is not a terminal or says nothing.
std::optional<int> StderrColumns();
// Writes all of the UTF-8 text to standard error (retrying short writes).
void WriteStderr(std::string_view szUtf8);
// The same for standard output (what a person asked to read: help, version).
void WriteStdout(std::string_view szUtf8);

// The exit code of a run ended by an interrupt from the terminal.
inline constexpr int kInterruptedExitCode = 130;

// While it lives, an interrupt from the terminal (Ctrl-C) does not end the process but sets
// an event, so the console front end can treat it as the close button. A second interrupt ends
// the process at once with kInterruptedExitCode (the person insists; a cancel that waits for a
// slow step is not what they asked for). One watch at a time.
// Linux: SIGINT and SIGTERM; the handler only writes a byte to a pipe, a watcher thread sets the
// event. Windows: a console control handler for Ctrl-C/Ctrl-Break, and the C runtime's SIGINT and
// SIGTERM handlers (what raise() delivers there).
class InterruptWatch {
public:
    InterruptWatch();
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    bool IsActive() const;
    // Manual-reset; set at the first interrupt.
    Event& Interrupted();

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

}  // namespace platform
