// The report process the crash handler starts after a dump: upload the dump, hand over as the
// crashed updater would have, exit 0. Only the updater itself starts it.
#pragma once

#include <string>
#include <vector>

namespace OrvoApp {

class COrvoUpdaterServiceApp;

// True when the arguments (without the program name) ask for the report mode.
bool IsCrashReportCall(const std::vector<std::string>& args);
// Runs the report mode; the process exit code (0; 2 for arguments it refuses).
int RunCrashReport(const std::vector<std::string>& args, COrvoUpdaterServiceApp& app);

}  // namespace OrvoApp
