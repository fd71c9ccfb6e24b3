#include "ui/ConsoleProgress.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

struct Captured {
    std::string text;
    CConsoleProgress::Output Output(bool bTerminal, int nColumns,
                                    std::chrono::milliseconds redraw = std::chrono::hours(1)) {
        return {bTerminal, nColumns, [this](std::string_view s) { text.append(s); }, redraw, {}};
    }
};

}  // namespace

TEST(ConsoleProgress, PlainLinesWhenNotATerminal) {
    Captured out;
    CConsoleProgress progress(out.Output(false, 80));
    progress.SetInstallProgressMax(L"업데이트 할 목록을 준비중입니다.", 4);
    progress.SetInstallProgress(L"다운로드 작업 중...", 1);
    progress.SetStatesProgressMax(L"0/2 파일 다운로드...", 2);
    progress.SetStatesProgress(L"1/2 파일\n다운로드 중...", 1);
    progress.UpdateError(L"[OVUSVC][Error] DownloadUpdateFile");
    progress.SetStatesProgress(L"late report", 2);  // after the end: nothing more
    progress.UpdateComplete();
    EXPECT_EQ(out.text,
              "Overall 0/4: 업데이트 할 목록을 준비중입니다.\n"
              "Overall 1/4: 다운로드 작업 중...\n"
              "Detail 0/2: 0/2 파일 다운로드...\n"
              "Detail 1/2: 1/2 파일 다운로드 중...\n"
              "Update failed: [OVUSVC][Error] DownloadUpdateFile\n");
    EXPECT_EQ(progress.GetResult(), CConsoleProgress::Result::Error);
    EXPECT_EQ(progress.GetErrorText(), L"[OVUSVC][Error] DownloadUpdateFile");
}

TEST(ConsoleProgress, TwoBarsRedrawnInPlaceWithinTheTerminalWidth) {
    Captured out;
    CConsoleProgress progress(out.Output(true, 60));
    progress.SetInstallProgressMax(L"준비", 4);
    EXPECT_EQ(out.text,
              "\x1b[2K" "Overall [------------------------]   0% 준비\n"
              "\x1b[2K" "Detail  [------------------------]   0% ");
    out.text.clear();

    // Twenty-six wide characters do not fit beside the bar: cut, marked, and never wrapped.
    progress.SetStatesProgressMax(L"가나다라마바사아자차카타파하가나다라마바사아자차카타", 3);
    progress.SetStatesProgress(L"past the end", 7);
    progress.SetInstallProgress(L"설치", 2);
    progress.UpdateComplete();
    EXPECT_EQ(out.text,
              "\r\x1b[1A\x1b[2K" "Overall [------------------------]   0% 준비\n"
              "\x1b[2K" "Detail  [------------------------]   0% 가나다라마바사아..."
              // progress reports wait for the next redraw; the end draws the last state
              "\r\x1b[1A\x1b[2K" "Overall [############------------]  50% 설치\n"
              "\x1b[2K" "Detail  [########################] 100% past the end"
              "\n" "Update complete.\n");

    // Without the pause every report is drawn, and a message goes above the bars.
    Captured all;
    CConsoleProgress each(all.Output(true, 60, std::chrono::milliseconds(0)));
    each.SetInstallProgressMax(L"a", 2);
    each.SetInstallProgress(L"b", 1);
    each.PrintLine(L"message");
    EXPECT_EQ(all.text,
              "\x1b[2K" "Overall [------------------------]   0% a\n"
              "\x1b[2K" "Detail  [------------------------]   0% "
              "\r\x1b[1A\x1b[2K" "Overall [############------------]  50% b\n"
              "\x1b[2K" "Detail  [------------------------]   0% "
              "\r\x1b[1A\x1b[2K" "message\n"
              "\x1b[2K" "Overall [############------------]  50% b\n"
              "\x1b[2K" "Detail  [------------------------]   0% ");
    EXPECT_EQ(CConsoleProgress::DisplayWidth(L"Detail  [------------------------]   0% 가나다라마바사아..."), 59);
}

// The last bytes line drawn (the third line, under the detail bar).
std::string LastBytes(const std::string& text) {
    const size_t detail = text.rfind("Detail  [");
    const size_t at = detail == std::string::npos ? std::string::npos : text.find("\n\x1b[2K", detail);
    return at == std::string::npos ? std::string("(none)") : text.substr(at + 5);
}

TEST(ConsoleProgress, RunningDownloadShowsBytesSpeedAndTimeLeftOnATerminalOnly) {
    auto now = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
    Captured out;
    CConsoleProgress::Output terminal = out.Output(true, 60, std::chrono::milliseconds(0));
    terminal.clock = [&now] { return now; };
    CConsoleProgress progress(terminal);
    constexpr uint64_t MiB = 1024 * 1024;
    progress.SetStatesProgressMax(L"0/2 downloads", 2);
    progress.SetStatesProgress(L"1/2 big.zip", 1);
    EXPECT_EQ(LastBytes(out.text), "(none)");  // two lines until a download reports bytes
    progress.SetItemBytes(0, 8 * MiB);
    EXPECT_EQ(LastBytes(out.text), "         0 B of 8.0 MiB");
    now += std::chrono::milliseconds(1000);
    progress.SetItemBytes(2 * MiB, 8 * MiB);  // 2 MiB/s: 3 s for the 6 MiB left
    EXPECT_EQ(LastBytes(out.text), "         2.0 MiB of 8.0 MiB, 2.0 MiB/s, 0:03 left");
    now += std::chrono::milliseconds(1000);
    progress.SetItemBytes(3 * MiB, 8 * MiB);  // smoothed: 0.7 * 2 + 0.3 * 1 = 1.7 MiB/s
    EXPECT_EQ(LastBytes(out.text), "         3.0 MiB of 8.0 MiB, 1.7 MiB/s, 0:03 left");
    EXPECT_NE(out.text.rfind("\r\x1b[2A\x1b[2K" "Overall ["), std::string::npos);  // three lines redrawn in place

    // The next item starts without the last one's bytes; a length the server did not announce.
    progress.SetStatesProgress(L"2/2 small.zip", 2);
    EXPECT_EQ(LastBytes(out.text), "         ");
    progress.SetItemBytes(0, 0);
    now += std::chrono::milliseconds(500);
    progress.SetItemBytes(1536, 0);
    EXPECT_EQ(LastBytes(out.text), "         1.5 KiB, 3.0 KiB/s");
    progress.PrintLine(L"message");
    EXPECT_NE(out.text.rfind("\r\x1b[2A\x1b[2K" "message\n"), std::string::npos);

    // Not a terminal: one line per report, as always, and none for the bytes.
    Captured plain;
    CConsoleProgress log(plain.Output(false, 100));
    log.SetStatesProgress(L"1/1 big.zip", 1);
    log.SetItemBytes(0, 8 * MiB);
    log.SetItemBytes(8 * MiB, 8 * MiB);
    EXPECT_EQ(plain.text, "Detail 1/0: 1/1 big.zip\n");

    EXPECT_EQ(CConsoleProgress::FormatDuration(3723), L"1:02:03");
    EXPECT_EQ(CConsoleProgress::FormatBytes(5ull << 30), L"5.0 GiB");
}

TEST(ConsoleProgress, WaitForEndReturnsWhenTheWorkerReports) {
    Captured out;
    CConsoleProgress progress(out.Output(false, 80));
    EXPECT_FALSE(progress.WaitForEnd(10));
    EXPECT_EQ(progress.GetResult(), CConsoleProgress::Result::Running);
    std::thread worker([&] {
        progress.SetInstallProgress(L"업데이트 완료", 4);
        progress.UpdateComplete();
    });
    EXPECT_TRUE(progress.WaitForEnd(5000));
    worker.join();
    EXPECT_EQ(progress.GetResult(), CConsoleProgress::Result::Complete);
    progress.PrintLine(L"after");
    EXPECT_EQ(out.text, "Overall 4/0: 업데이트 완료\nUpdate complete.\nafter\n");
}

TEST(ConsoleProgress, ACancelIsReportedOnceAndOnlyWhileRunning) {
    Captured out;
    CConsoleProgress progress(out.Output(false, 80));
    progress.SetInstallProgress(L"다운로드 작업 중...", 1);
    EXPECT_TRUE(progress.Cancel(L"Update cancelled."));
    EXPECT_FALSE(progress.Cancel(L"Update cancelled."));
    progress.UpdateError(L"[OVUSVC][Error] DownloadUpdateFile");  // the cancelled run ends
    EXPECT_EQ(out.text, "Overall 1/0: 다운로드 작업 중...\nUpdate cancelled.\n");
    EXPECT_TRUE(progress.WaitForEnd(0));

    Captured ended;
    CConsoleProgress done(ended.Output(false, 80));
    done.UpdateComplete();
    EXPECT_FALSE(done.Cancel(L"Update cancelled."));
    EXPECT_EQ(ended.text, "Update complete.\n");
}
