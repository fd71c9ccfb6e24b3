#include "platform/terminal.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <thread>

namespace platform {

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

std::optional<int> StderrColumns() {
    winsize ws{};
    if (!StderrIsTerminal() || ::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) != 0 || ws.ws_col == 0) {
        return std::nullopt;
    }
    return static_cast<int>(ws.ws_col);
}

namespace {

void WriteAll(int fd, std::string_view szUtf8) {
    while (!szUtf8.empty()) {
        const ssize_t n = ::write(fd, szUtf8.data(), szUtf8.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        szUtf8.remove_prefix(static_cast<size_t>(n));
    }
}

}  // namespace

void WriteStderr(std::string_view szUtf8) { WriteAll(STDERR_FILENO, szUtf8); }

void WriteStdout(std::string_view szUtf8) { WriteAll(STDOUT_FILENO, szUtf8); }

namespace {

// The write end of the active watch's pipe, for the signal handler.
std::atomic<int> g_interruptFd{-1};

void OnInterrupt(int) {
    const int saved = errno;
    const int fd = g_interruptFd.load();
    if (fd >= 0) {
        const char byte = 'i';
        [[maybe_unused]] ssize_t n = ::write(fd, &byte, 1);
    }
    errno = saved;
}

}  // namespace

struct InterruptWatch::Impl {
    int fds[2] = {-1, -1};
    struct sigaction oldInt {};
    struct sigaction oldTerm {};
    bool bActive = false;
    Event interrupted{true, false};
    std::thread watcher;
};

InterruptWatch::InterruptWatch() : m_impl(std::make_unique<Impl>()) {
    Impl& m = *m_impl;
    if (::pipe2(m.fds, O_CLOEXEC) != 0) return;
    int expected = -1;
    if (!g_interruptFd.compare_exchange_strong(expected, m.fds[1])) return;  // another watch is active
    // The handler must never block on a full pipe.
    ::fcntl(m.fds[1], F_SETFL, ::fcntl(m.fds[1], F_GETFL) | O_NONBLOCK);
    m.watcher = std::thread([&m] {
        char byte = 0;
        for (;;) {
            const ssize_t n = ::read(m.fds[0], &byte, 1);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0 || byte == 'q') return;
            if (m.interrupted.Wait(0)) {
                // Asked again while the first is still being honoured: end now. Every file is
                // replaced by a rename, so an ended run leaves each one old or new.
                WriteStderr("Interrupted again: stopping now.\n");
                ::_exit(kInterruptedExitCode);
            }
            m.interrupted.Set();
        }
    });
    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &sa, &m.oldInt);
    ::sigaction(SIGTERM, &sa, &m.oldTerm);
    m.bActive = true;
}

InterruptWatch::~InterruptWatch() {
    Impl& m = *m_impl;
    if (m.bActive) {
        ::sigaction(SIGINT, &m.oldInt, nullptr);
        ::sigaction(SIGTERM, &m.oldTerm, nullptr);
        g_interruptFd = -1;
        const char quit = 'q';
        while (::write(m.fds[1], &quit, 1) < 0 && errno == EINTR) {
        }
        m.watcher.join();
    }
    for (int fd : m.fds) {
        if (fd >= 0) ::close(fd);
    }
}

bool InterruptWatch::IsActive() const { return m_impl->bActive; }

Event& InterruptWatch::Interrupted() { return m_impl->interrupted; }

}  // namespace platform
