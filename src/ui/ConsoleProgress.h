// The progress of an update on the terminal, for runs without a display: two labelled bars
// (overall and detail) redrawn in place on a terminal, with a line under them for the bytes,
// speed and time left of a running download; one plain line per report otherwise.
// Reports come from the manager's worker thread; nothing here waits between them.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/sync.h"
#include "updater/MgrByteProgress.h"
#include "updater/MgrInterface.h"

class CConsoleProgress : public UpDater::CMgrInterface, public UpDater::CMgrByteProgress {
public:
    struct Output {
        bool bTerminal = false;
        int nColumns = 80;
        std::function<void(std::string_view)> write;  // UTF-8 text
        // Progress redraws closer together than this are skipped (a new maximum and the end
        // are always drawn): drawing thousands of times a second only costs time.
        std::chrono::milliseconds redrawInterval{40};
        // The time source of the speed and the time left (the steady clock when empty).
        std::function<std::chrono::steady_clock::time_point()> clock;
    };
    enum class Result { Running, Complete, Error };

    // Standard error, drawn as bars when it is a terminal.
    CConsoleProgress();
    explicit CConsoleProgress(Output out);
    ~CConsoleProgress() override;

    void SetInstallProgressMax(const wchar_t* szText, int nMax) override;
    void SetStatesProgressMax(const wchar_t* szText, int nMax) override;
    void SetInstallProgress(const wchar_t* szText, int nPos) override;
    void SetStatesProgress(const wchar_t* szText, int nPos) override;
    void UpdateComplete() override;
    void UpdateError(const wchar_t* szText) override;
    void SetItemBytes(uint64_t nDone, uint64_t nTotal) override;

    // A line of its own (a message for the user) above the bars.
    void PrintLine(const std::wstring& szText);
    // The user cancels the run: writes szLine, and the end the cancelled run then reports is only
    // logged, so the cancel is reported once. False (nothing written) when the run had already
    // ended.
    bool Cancel(const std::wstring& szLine);

    // True when the run ended (complete or failed) within the time.
    bool WaitForEnd(uint32_t dwMilliseconds);
    Result GetResult();
    std::wstring GetErrorText();

    // Columns the text takes on a terminal (East Asian wide characters take two).
    static int DisplayWidth(std::wstring_view text);
    // "512 B", "1.5 KiB", "24.0 MiB", "1.2 GiB".
    static std::wstring FormatBytes(uint64_t nBytes);
    // "0:07", "12:34", "1:02:03".
    static std::wstring FormatDuration(uint64_t nSeconds);

private:
    struct Bar {
        std::wstring title;
        std::wstring label;
        int nMax = 0;
        int nPos = 0;
    };
    // The download that is running: what the detail bar shows beside its label.
    struct Bytes {
        bool bActive = false;
        uint64_t nDone = 0, nTotal = 0;
        std::chrono::steady_clock::time_point sampledAt{};
        uint64_t nSampled = 0;
        double dRate = 0;  // bytes per second, smoothed; 0 until measured
    };
    std::chrono::steady_clock::time_point Now() const;
    std::wstring BytesText() const;  // under m_cs
    void Report(Bar& bar, const wchar_t* szText, int nMax, int nPos, bool bForce);
    void End(Result result, const std::wstring& szLine);
    std::string BarLine(const Bar& bar) const;
    std::string BytesLine() const;
    std::string CursorToFirstLine() const;
    void Draw(bool bForce);  // under m_cs
    void WriteLine(const std::wstring& szText);  // under m_cs

    Output m_out;
    std::mutex m_cs;
    Bar m_install{L"Overall", L"", 0, 0};
    Bar m_states{L"Detail", L"", 0, 0};
    Bytes m_bytes;
    bool m_bDrawn = false;  // the bar lines are on the screen
    int m_nLines = 2;       // lines drawn: the two bars, and the bytes line once a download showed it
    bool m_bCancelled = false;
    std::chrono::steady_clock::time_point m_lastDraw{};
    Result m_result = Result::Running;
    std::wstring m_strError;
    platform::Event m_ended{true, false};
};
