// A private X server for window tests: Xvfb on a free display number, DISPLAY pointed at it
// while the object lives.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

#include "support/test_env.h"

namespace orvo::test {

class XvfbServer {
public:
    XvfbServer();
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;
    bool ok() const { return m_pid > 0; }
    const std::string& display() const { return m_display; }

private:
    pid_t m_pid = -1;
    std::string m_display;
    std::unique_ptr<ScopedEnv> m_env;
};

// A plain top-level window that collects the messages posted to it.
class MessageWindow {
public:
    MessageWindow();
    ~MessageWindow();
    unsigned long id() const { return m_window; }
    // Waits up to timeoutMs for posted messages; returns how many with this number arrived.
    int CountMessages(unsigned nMessage, int timeoutMs);

private:
    void* m_display = nullptr;
    unsigned long m_window = 0;
    unsigned long m_atom = 0;
};

}  // namespace orvo::test
