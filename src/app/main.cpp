#include <clocale>
#include <string>
#include <vector>

#include "app/CrashReportMode.h"
#include "app/UpdaterApp.h"
#include "platform/strings.h"

int main(int argc, char** argv) {
    // Only what the updater uses (text and wide characters, number formats, the language of
    // messages): every other category is a file to load on the road of every start.
    for (const int category : {LC_CTYPE, LC_NUMERIC, LC_MESSAGES}) std::setlocale(category, "");
    if (const std::vector<std::string> args(argv + 1, argv + argc); OrvoApp::IsCrashReportCall(args)) {
        OrvoApp::COrvoUpdaterServiceApp reporter;
        return OrvoApp::RunCrashReport(args, reporter);
    }
    // The arguments as the system split them: the target's parameters stay whole.
    std::vector<std::wstring> args;
    for (int i = 1; i < argc; ++i) args.push_back(platform::FromUtf8(argv[i]));
    OrvoApp::COrvoUpdaterServiceApp app;
    app.InitInstance(args);
    return app.ExitInstance();
}
