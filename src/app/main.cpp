#include <clocale>
#include <string>
#include <vector>

#include "app/UpdaterApp.h"
#include "platform/strings.h"

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    // The arguments as the system split them: the target's parameters stay whole.
    std::vector<std::wstring> args;
    for (int i = 1; i < argc; ++i) args.push_back(platform::FromUtf8(argv[i]));
    OrvoApp::COrvoUpdaterServiceApp app;
    app.InitInstance(args);
    return app.ExitInstance();
}
