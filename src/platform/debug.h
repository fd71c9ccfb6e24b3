// Debugger output: one diagnostic line per call.
// Linux: syslog (LOG_DEBUG). Windows: OutputDebugStringW. Both: stderr too when ORVO_DEBUG is
// set, and every line is handed to an active DebugCapture, so tests can read them in-process.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace platform {

void OutputDebug(const std::wstring& szLine);

// Collects every line written while it lives (from any thread). Captures do not nest.
class DebugCapture {
public:
    DebugCapture();
    ~DebugCapture();
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;

    std::vector<std::wstring> Lines() const;
    // True when some captured line contains the text.
    bool Contains(const std::wstring& szText) const;

    void Append(const std::wstring& szLine);

private:
    mutable std::mutex m_cs;
    std::vector<std::wstring> m_lines;
};

namespace backend {
void WriteDebugLine(const std::wstring& szLine);
}

}  // namespace platform
