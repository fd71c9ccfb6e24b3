// The progress of an update on the terminal, for runs without a display: two labelled bars
// (overall and detail) redrawn in place on a terminal, one plain line per report otherwise.
// Reports come from the manager's worker thread; nothing here waits between them.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/sync.h"
#include "updater/MgrInterface.h"

class CConsoleProgress : public UpDater::CMgrInterface {
public:
    struct Output {
        bool bTerminal = false;
        int nColumns = 80;
        std::function<void(std::string_view)> write;  // UTF-8 text
        // Progress redraws closer together than this are skipped (a new maximum and the end
        // are always drawn): drawing thousands of times a second only costs time.
        std::chrono::milliseconds redrawInterval{40};
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

private:
    struct Bar {
        const wchar_t* title;
        std::wstring label;
        int nMax = 0;
        int nPos = 0;
    };
    void Report(Bar& bar, const wchar_t* szText, int nMax, int nPos, bool bForce);
    void End(Result result, const std::wstring& szLine);
    std::string BarLine(const Bar& bar) const;
    void Draw(bool bForce);  // under m_cs
    void WriteLine(const std::wstring& szText);  // under m_cs

    Output m_out;
    std::mutex m_cs;
    Bar m_install{L"Overall", L"", 0, 0};
    Bar m_states{L"Detail", L"", 0, 0};
    bool m_bDrawn = false;  // the two bar lines are on the screen
    bool m_bCancelled = false;
    std::chrono::steady_clock::time_point m_lastDraw{};
    Result m_result = Result::Running;
    std::wstring m_strError;
    platform::Event m_ended{true, false};
};
