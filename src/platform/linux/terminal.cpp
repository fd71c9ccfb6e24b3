#include "platform/terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

std::optional<int> StderrColumns() {
    winsize ws{};
    if (!StderrIsTerminal() || ::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) != 0 || ws.ws_col == 0) {
        return std::nullopt;
    }
    return static_cast<int>(ws.ws_col);
}

void WriteStderr(std::string_view szUtf8) {
    while (!szUtf8.empty()) {
        const ssize_t n = ::write(STDERR_FILENO, szUtf8.data(), szUtf8.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        szUtf8.remove_prefix(static_cast<size_t>(n));
    }
}

}  // namespace platform
