// The Windows program: of the GUI subsystem, so that a suite starting it opens no console window.
// Started from a console, it writes its progress and messages there (the terminal front end).
#include <clocale>
#include <string>

#include "app/UpdaterApp.h"
#include "platform/process.h"

// The C runtime's entry for a wide GUI program; declared here with C linkage because portable
// code does not include the system headers.
extern "C" int __stdcall wWinMain(void*, void*, wchar_t*, int) {
    std::setlocale(LC_ALL, "");
    platform::AttachParentConsole();
    // The raw wide text, not the runtime's split and code-page converted argv: the updater's own
    // rules split it, and every character of the target's parameters reaches the target.
    const std::wstring arguments = platform::ArgumentsAfterProgramName(platform::ProcessCommandLine());
    OrvoApp::COrvoUpdaterServiceApp app;
    app.InitInstance(arguments);
    return app.ExitInstance();
}
