#include <clocale>
#include <string>
#include <vector>

#include "app/CrashReportMode.h"
#include "app/UpdaterApp.h"
#include "platform/strings.h"

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    if (const std::vector<std::string> args(argv + 1, argv + argc); OrvoApp::IsCrashReportCall(args)) {
        OrvoApp::COrvoUpdaterServiceApp reporter;
        return OrvoApp::RunCrashReport(args, reporter);
    }
    // The command line as one text, as the updater has always read it; its own rules split it.
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) line += ' ';
        line += argv[i];
    }
    OrvoApp::COrvoUpdaterServiceApp app;
    app.InitInstance(platform::FromUtf8(line));
    return app.ExitInstance();
}
