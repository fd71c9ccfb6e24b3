#include "support/xvfb.h"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/window.h"

namespace orvo::test {

XvfbServer::XvfbServer() {
    for (int n = 50 + (::getpid() % 400); n < 1000; n += 7) {
        const std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
        const std::string sock = "/tmp/.X11-unix/X" + std::to_string(n);
        struct stat st;
        if (::stat(lock.c_str(), &st) == 0 || ::stat(sock.c_str(), &st) == 0) continue;
        m_display = ":" + std::to_string(n);
        std::string bin = "Xvfb";
        const char* argv[] = {"Xvfb", m_display.c_str(), "-nolisten", "tcp", "-noreset", "-screen", "0", "640x480x24", nullptr};
        const pid_t parent = ::getpid();
        const pid_t pid = ::fork();
        if (pid < 0) return;
        if (pid == 0) {
            // The server ends with the test process, also with one that never tears it down (the
            // toolkit of the window tests keeps its display for the whole process) or crashes.
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (::getppid() != parent) ::_exit(127);
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::dup2(null, 2);
            ::execvp(bin.c_str(), const_cast<char**>(argv));
            ::_exit(127);
        }
        for (int i = 0; i < 100; ++i) {
            if (::stat(sock.c_str(), &st) == 0) {
                if (Display* d = XOpenDisplay(m_display.c_str())) {
                    XCloseDisplay(d);
                    m_pid = pid;
                    m_env = std::make_unique<ScopedEnv>("DISPLAY", m_display);
                    return;
                }
            }
            int status;
            if (::waitpid(pid, &status, WNOHANG) == pid) break;  // lost a race for the number
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
}

XvfbServer::~XvfbServer() {
    m_env.reset();
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
    }
}

MessageWindow::MessageWindow() {
    Display* d = XOpenDisplay(nullptr);
    m_display = d;
    if (d == nullptr) return;
    m_window = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 10, 10, 0, 0, 0);
    m_atom = XInternAtom(d, platform::kWindowMessageAtom, False);
    XSync(d, False);
}

MessageWindow::~MessageWindow() {
    if (auto* d = static_cast<Display*>(m_display)) {
        XDestroyWindow(d, m_window);
        XCloseDisplay(d);
    }
}

int MessageWindow::CountMessages(unsigned nMessage, int timeoutMs) {
    auto* d = static_cast<Display*>(m_display);
    if (d == nullptr) return 0;
    int count = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < until) {
        while (XPending(d) > 0) {
            XEvent ev;
            XNextEvent(d, &ev);
            if (ev.type == ClientMessage && ev.xclient.message_type == m_atom &&
                static_cast<unsigned long>(ev.xclient.data.l[0]) == nMessage)
                ++count;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return count;
}

}  // namespace orvo::test
