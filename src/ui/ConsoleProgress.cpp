#include "ui/ConsoleProgress.h"

#include <algorithm>

#include "platform/debug.h"
#include "platform/strings.h"
#include "platform/terminal.h"

namespace {

constexpr int kBarCells = 24;

// Takes the code as 32 bits: with a 16-bit wchar_t the ranges beyond it are simply not met.
bool IsWideCode(uint32_t c) {
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF && c != 0x303F) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
           (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) ||
           (c >= 0x1F300 && c <= 0x1FAFF) || (c >= 0x20000 && c <= 0x3FFFD);
}

bool IsWide(wchar_t c) { return IsWideCode(static_cast<uint32_t>(c)); }

// The label on one line: line breaks and other control characters become spaces.
std::wstring OneLine(const wchar_t* szText) {
    std::wstring text = szText != nullptr ? szText : L"";
    for (wchar_t& c : text) {
        if (c < 0x20 || c == 0x7F) c = L' ';
    }
    return platform::TrimRight(text, L" ");
}

// The longest head of the text that fits the columns, with "..." when it had to be cut.
std::wstring FitColumns(const std::wstring& text, int nColumns) {
    if (CConsoleProgress::DisplayWidth(text) <= nColumns) return text;
    if (nColumns < 3) return std::wstring();
    std::wstring out;
    int used = 0;
    for (wchar_t c : text) {
        const int w = IsWide(c) ? 2 : 1;
        if (used + w > nColumns - 3) break;
        out += c;
        used += w;
    }
    return out + L"...";
}

}  // namespace

CConsoleProgress::CConsoleProgress()
    : CConsoleProgress(Output{platform::StderrIsTerminal(), platform::StderrColumns().value_or(80),
                              [](std::string_view text) { platform::WriteStderr(text); }}) {}

CConsoleProgress::CConsoleProgress(Output out) : m_out(std::move(out)) {
    if (m_out.nColumns < 20) m_out.nColumns = 20;
}

CConsoleProgress::~CConsoleProgress() = default;

int CConsoleProgress::DisplayWidth(std::wstring_view text) {
    int width = 0;
    for (wchar_t c : text) width += IsWide(c) ? 2 : 1;
    return width;
}

void CConsoleProgress::SetInstallProgressMax(const wchar_t* szText, int nMax) { Report(m_install, szText, nMax, 0, true); }
void CConsoleProgress::SetStatesProgressMax(const wchar_t* szText, int nMax) { Report(m_states, szText, nMax, 0, true); }
void CConsoleProgress::SetInstallProgress(const wchar_t* szText, int nPos) { Report(m_install, szText, -1, nPos, false); }
void CConsoleProgress::SetStatesProgress(const wchar_t* szText, int nPos) { Report(m_states, szText, -1, nPos, false); }

void CConsoleProgress::UpdateComplete() { End(Result::Complete, L"Update complete."); }

void CConsoleProgress::UpdateError(const wchar_t* szText) {
    const std::wstring text = OneLine(szText);
    {
        std::lock_guard<std::mutex> guard(m_cs);
        m_strError = text;
    }
    End(Result::Error, L"Update failed: " + text);
}

void CConsoleProgress::Report(Bar& bar, const wchar_t* szText, int nMax, int nPos, bool bForce) {
    std::lock_guard<std::mutex> guard(m_cs);
    if (m_result != Result::Running) return;
    bar.label = OneLine(szText);
    if (nMax >= 0) bar.nMax = nMax;
    bar.nPos = nPos;
    if (!m_out.bTerminal) {
        m_out.write(platform::ToUtf8(platform::FormatW(L"%s %d/%d: %s\n", bar.title, bar.nPos, bar.nMax, bar.label)));
        return;
    }
    Draw(bForce);
}

std::string CConsoleProgress::BarLine(const Bar& bar) const {
    const int nMax = std::max(bar.nMax, 0);
    const int nPos = std::clamp(bar.nPos, 0, nMax);
    const int nFilled = nMax > 0 ? static_cast<int>(static_cast<int64_t>(nPos) * kBarCells / nMax) : 0;
    const int nPercent = nMax > 0 ? static_cast<int>(static_cast<int64_t>(nPos) * 100 / nMax) : 0;
    std::wstring line = platform::FormatW(L"%-7s [", bar.title) + std::wstring(static_cast<size_t>(nFilled), L'#') +
                        std::wstring(static_cast<size_t>(kBarCells - nFilled), L'-') +
                        platform::FormatW(L"] %3d%% ", nPercent);
    // One column is left free so that the terminal never wraps the line.
    line += FitColumns(bar.label, m_out.nColumns - 1 - DisplayWidth(line));
    return platform::ToUtf8(line);
}

void CConsoleProgress::Draw(bool bForce) {
    const auto now = std::chrono::steady_clock::now();
    if (!bForce && m_bDrawn && now - m_lastDraw < m_out.redrawInterval) return;
    m_lastDraw = now;
    std::string text = m_bDrawn ? "\r\x1b[1A" : "";
    text += "\x1b[2K" + BarLine(m_install) + "\n\x1b[2K" + BarLine(m_states);
    m_bDrawn = true;
    m_out.write(text);
}

void CConsoleProgress::PrintLine(const std::wstring& szText) {
    std::lock_guard<std::mutex> guard(m_cs);
    WriteLine(szText);
}

bool CConsoleProgress::Cancel(const std::wstring& szLine) {
    std::lock_guard<std::mutex> guard(m_cs);
    if (m_result != Result::Running || m_bCancelled) return false;
    m_bCancelled = true;
    WriteLine(szLine);
    return true;
}

void CConsoleProgress::WriteLine(const std::wstring& szText) {
    const std::string line = platform::ToUtf8(szText) + "\n";
    if (!m_out.bTerminal || !m_bDrawn) {
        m_out.write(line);
        return;
    }
    // Over the bars, which are drawn again below it.
    m_out.write("\r\x1b[1A\x1b[2K" + line);
    m_bDrawn = false;
    Draw(true);
}

void CConsoleProgress::End(Result result, const std::wstring& szLine) {
    {
        std::lock_guard<std::mutex> guard(m_cs);
        if (m_result != Result::Running) return;
        if (m_out.bTerminal && m_bDrawn) {
            Draw(true);
            m_out.write("\n");
        }
        m_result = result;
        if (m_bCancelled)
            platform::OutputDebug(L"[OVUSVC] the cancelled run ended: " +
                                  (result == Result::Error ? m_strError : std::wstring(L"complete")) + L"\n");
        else
            m_out.write(platform::ToUtf8(szLine) + "\n");
    }
    m_ended.Set();
}

bool CConsoleProgress::WaitForEnd(uint32_t dwMilliseconds) { return m_ended.Wait(dwMilliseconds); }

CConsoleProgress::Result CConsoleProgress::GetResult() {
    std::lock_guard<std::mutex> guard(m_cs);
    return m_result;
}

std::wstring CConsoleProgress::GetErrorText() {
    std::lock_guard<std::mutex> guard(m_cs);
    return m_strError;
}
