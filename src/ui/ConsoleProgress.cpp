#include "ui/ConsoleProgress.h"

#include <algorithm>

#include "platform/debug.h"
#include "platform/i18n.h"
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
                              [](std::string_view text) { platform::WriteStderr(text); }, std::chrono::milliseconds(40), {}}) {}

CConsoleProgress::CConsoleProgress(Output out) : m_out(std::move(out)) {
    m_install.title = platform::Translate(L"Overall");
    m_states.title = platform::Translate(L"Detail");
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

void CConsoleProgress::UpdateComplete() { End(Result::Complete, platform::Translate(L"Update complete.")); }

void CConsoleProgress::UpdateError(const wchar_t* szText) {
    const std::wstring text = OneLine(szText);
    {
        std::lock_guard<std::mutex> guard(m_cs);
        m_strError = text;
    }
    End(Result::Error, platform::FormatW(platform::Translate(L"Update failed: %s").c_str(), text));
}

std::chrono::steady_clock::time_point CConsoleProgress::Now() const {
    return m_out.clock ? m_out.clock() : std::chrono::steady_clock::now();
}

std::wstring CConsoleProgress::FormatBytes(uint64_t nBytes) {
    if (nBytes < 1024) return platform::FormatW(L"%llu B", static_cast<unsigned long long>(nBytes));
    const wchar_t* units[] = {L"KiB", L"MiB", L"GiB", L"TiB"};
    double value = static_cast<double>(nBytes) / 1024;
    size_t unit = 0;
    while (value >= 1024 && unit + 1 < std::size(units)) {
        value /= 1024;
        ++unit;
    }
    return platform::FormatW(L"%.1f %s", value, units[unit]);
}

std::wstring CConsoleProgress::FormatDuration(uint64_t nSeconds) {
    const unsigned long long h = nSeconds / 3600, m = nSeconds / 60 % 60, s = nSeconds % 60;
    if (h > 0) return platform::FormatW(L"%llu:%02llu:%02llu", h, m, s);
    return platform::FormatW(L"%llu:%02llu", m, s);
}

std::wstring CConsoleProgress::BytesText() const {
    if (!m_bytes.bActive) return {};
    const std::wstring done = FormatBytes(m_bytes.nDone);
    if (m_bytes.dRate <= 0) {
        if (m_bytes.nTotal == 0) return done;
        return platform::FormatW(platform::Translate(L"%s of %s").c_str(), done, FormatBytes(m_bytes.nTotal));
    }
    const std::wstring speed = FormatBytes(static_cast<uint64_t>(m_bytes.dRate));
    if (m_bytes.nTotal == 0 || m_bytes.nDone > m_bytes.nTotal)
        return platform::FormatW(platform::Translate(L"%s, %s/s").c_str(), done, speed);
    const auto left = static_cast<uint64_t>(static_cast<double>(m_bytes.nTotal - m_bytes.nDone) / m_bytes.dRate + 0.5);
    return platform::FormatW(platform::Translate(L"%s of %s, %s/s, %s left").c_str(), done, FormatBytes(m_bytes.nTotal), speed,
                             FormatDuration(left));
}

void CConsoleProgress::SetItemBytes(uint64_t nDone, uint64_t nTotal) {
    std::lock_guard<std::mutex> guard(m_cs);
    if (m_result != Result::Running) return;
    const auto now = Now();
    if (!m_bytes.bActive || nDone < m_bytes.nDone) {
        m_bytes = Bytes{true, nDone, nTotal, now, nDone, 0};
    } else {
        m_bytes.nDone = nDone;
        m_bytes.nTotal = nTotal;
        // The speed of the last half second or more, smoothed so that the time left does not jump.
        const double elapsed = std::chrono::duration<double>(now - m_bytes.sampledAt).count();
        if (elapsed >= 0.5) {
            const double rate = static_cast<double>(nDone - m_bytes.nSampled) / elapsed;
            m_bytes.dRate = m_bytes.dRate <= 0 ? rate : 0.7 * m_bytes.dRate + 0.3 * rate;
            m_bytes.sampledAt = now;
            m_bytes.nSampled = nDone;
        }
    }
    // Bytes are drawn on a terminal only: a log gets one line per report, as before.
    if (m_out.bTerminal) Draw(false);
}

void CConsoleProgress::Report(Bar& bar, const wchar_t* szText, int nMax, int nPos, bool bForce) {
    std::lock_guard<std::mutex> guard(m_cs);
    if (m_result != Result::Running) return;
    // A new detail step (the next item, or the next stage) ends the bytes of the last download.
    if (&bar == &m_states) m_bytes.bActive = false;
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

std::string CConsoleProgress::BytesLine() const {
    // Under the detail bar's label column.
    const std::wstring indent(9, L' ');
    return platform::ToUtf8(indent + FitColumns(BytesText(), m_out.nColumns - 1 - DisplayWidth(indent)));
}

std::string CConsoleProgress::CursorToFirstLine() const { return m_nLines == 3 ? "\r\x1b[2A" : "\r\x1b[1A"; }

void CConsoleProgress::Draw(bool bForce) {
    const auto now = std::chrono::steady_clock::now();
    if (!bForce && m_bDrawn && now - m_lastDraw < m_out.redrawInterval) return;
    m_lastDraw = now;
    std::string text = m_bDrawn ? CursorToFirstLine() : "";
    text += "\x1b[2K" + BarLine(m_install) + "\n\x1b[2K" + BarLine(m_states);
    // Once shown, the bytes line stays (empty between downloads), so the bars never move.
    if (m_bytes.bActive || m_nLines == 3) {
        text += "\n\x1b[2K" + BytesLine();
        m_nLines = 3;
    }
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
    m_out.write(CursorToFirstLine() + "\x1b[2K" + line);
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
