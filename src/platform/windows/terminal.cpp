#include "platform/terminal.h"

#include <windows.h>

#include <atomic>
#include <csignal>
#include <mutex>

#include "platform/strings.h"

namespace platform {

namespace {

HANDLE StderrHandle() { return ::GetStdHandle(STD_ERROR_HANDLE); }

std::mutex g_watchLock;
std::atomic<Event*> g_interrupted{nullptr};  // the event of the active watch
std::atomic<int> g_interrupts{0};            // interrupts seen by the active watch

void OnInterrupt() {
    Event* e = g_interrupted.load();
    if (e == nullptr) return;
    if (g_interrupts.fetch_add(1) == 0) {
        e->Set();
        return;
    }
    // Asked again while the first is still being honoured: end now. Every file is replaced by a
    // rename, so an ended run leaves each one old or new.
    WriteStderr("Interrupted again: stopping now.\n");
    ::TerminateProcess(::GetCurrentProcess(), kInterruptedExitCode);
}

// Runs on a thread of its own that the system starts for the event.
BOOL WINAPI OnConsoleControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
    OnInterrupt();
    return TRUE;
}

// The C runtime's SIGINT/SIGTERM (what raise() delivers); it resets the handler on each signal.
void OnSignal(int sig) {
    std::signal(sig, OnSignal);
    OnInterrupt();
}

}  // namespace

bool StderrIsTerminal() {
    DWORD mode = 0;
    return ::GetConsoleMode(StderrHandle(), &mode) != FALSE;
}

std::optional<int> StderrColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!::GetConsoleScreenBufferInfo(StderrHandle(), &info)) return std::nullopt;
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    return columns > 0 ? std::optional<int>(columns) : std::nullopt;
}

namespace {

// A console gets the text as wide characters, anything else (a pipe, a file) as UTF-8.
void WriteToHandle(HANDLE h, std::string_view szUtf8) {
    DWORD mode = 0;
    if (::GetConsoleMode(h, &mode)) {
        const std::wstring text = FromUtf8(szUtf8);
        for (size_t done = 0; done < text.size();) {
            DWORD n = 0;
            if (!::WriteConsoleW(h, text.data() + done, static_cast<DWORD>(text.size() - done), &n, nullptr) || n == 0)
                return;
            done += n;
        }
        return;
    }
    for (size_t done = 0; done < szUtf8.size();) {
        DWORD n = 0;
        if (!::WriteFile(h, szUtf8.data() + done, static_cast<DWORD>(szUtf8.size() - done), &n, nullptr) || n == 0)
            return;
        done += n;
    }
}

}  // namespace

void WriteStderr(std::string_view szUtf8) { WriteToHandle(StderrHandle(), szUtf8); }

void WriteStdout(std::string_view szUtf8) { WriteToHandle(::GetStdHandle(STD_OUTPUT_HANDLE), szUtf8); }

struct InterruptWatch::Impl {
    bool bActive = false;
    Event interrupted{true, false};
    void (*previousInt)(int) = SIG_DFL;
    void (*previousTerm)(int) = SIG_DFL;
};

InterruptWatch::InterruptWatch() : m_impl(std::make_unique<Impl>()) {
    std::lock_guard<std::mutex> lock(g_watchLock);
    if (g_interrupted.load() != nullptr) return;  // one at a time
    g_interrupts = 0;
    g_interrupted = &m_impl->interrupted;
    // A program of the GUI subsystem may start with Ctrl-C ignored (Wine does so): take it.
    ::SetConsoleCtrlHandler(nullptr, FALSE);
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    m_impl->previousInt = std::signal(SIGINT, OnSignal);
    m_impl->previousTerm = std::signal(SIGTERM, OnSignal);
    m_impl->bActive = true;
}

InterruptWatch::~InterruptWatch() {
    if (!m_impl->bActive) return;
    std::lock_guard<std::mutex> lock(g_watchLock);
    std::signal(SIGINT, m_impl->previousInt);
    std::signal(SIGTERM, m_impl->previousTerm);
    ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    g_interrupted = nullptr;
}

bool InterruptWatch::IsActive() const { return m_impl->bActive; }

Event& InterruptWatch::Interrupted() { return m_impl->interrupted; }

}  // namespace platform
