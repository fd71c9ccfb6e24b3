#include "platform/debug.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "platform/strings.h"

namespace platform {

namespace {
std::mutex g_captureLock;
DebugCapture* g_capture = nullptr;
}  // namespace

DebugCapture::DebugCapture() {
    std::lock_guard<std::mutex> lock(g_captureLock);
    g_capture = this;
}

DebugCapture::~DebugCapture() {
    std::lock_guard<std::mutex> lock(g_captureLock);
    if (g_capture == this) g_capture = nullptr;
}

std::vector<std::wstring> DebugCapture::Lines() const {
    std::lock_guard<std::mutex> lock(m_cs);
    return m_lines;
}

bool DebugCapture::Contains(const std::wstring& szText) const {
    std::lock_guard<std::mutex> lock(m_cs);
    for (const auto& line : m_lines)
        if (line.find(szText) != std::wstring::npos) return true;
    return false;
}

void DebugCapture::Append(const std::wstring& szLine) {
    std::lock_guard<std::mutex> lock(m_cs);
    m_lines.push_back(szLine);
}

void OutputDebug(const std::wstring& szLine) {
    backend::WriteDebugLine(szLine);
    if (std::getenv("ORVO_DEBUG") != nullptr) {
        std::string line = ToUtf8(szLine);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        std::fprintf(stderr, "%s\n", line.c_str());
    }
    std::lock_guard<std::mutex> lock(g_captureLock);
    if (g_capture != nullptr) g_capture->Append(szLine);
}

}  // namespace platform
