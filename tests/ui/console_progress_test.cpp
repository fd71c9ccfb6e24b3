#include "ui/ConsoleProgress.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

struct Captured {
    std::string text;
    CConsoleProgress::Output Output(bool bTerminal, int nColumns,
                                    std::chrono::milliseconds redraw = std::chrono::hours(1)) {
        return {bTerminal, nColumns, [this](std::string_view s) { text.append(s); }, redraw};
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
