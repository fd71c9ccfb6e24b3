#include "app/CrashReportMode.h"

#include "app/UpdaterApp.h"
#include "crash/ExceptionHandler.h"
#include "platform/debug.h"
#include "platform/dump.h"
#include "platform/fs.h"
#include "platform/strings.h"
#include "platform/terminal.h"
#include "updater/UpdaterMgrEx.h"

namespace OrvoApp {

namespace {

// "<dump folder>/<stem>_<digits>.dmp" exactly: the folder's own file, never one reached through
// "..". The version part is not compared: it is read from the executable, which may be gone.
bool IsOwnDumpPath(const std::wstring& szPath, const OrvoCrash::CExceptionWorker& worker) {
    auto slashes = [](std::string p) {
        for (char& c : p)
            if (c == '\\') c = '/';
        return p;
    };
    const std::string path = slashes(platform::ToNativePath(szPath));
    const std::string folder = slashes(platform::ToNativePath(worker.m_strDumpDir)) + "/";
    const std::string stem = platform::ToUtf8(worker.m_strDumpName) + "_";
    if (worker.m_strDumpDir.empty() || path.compare(0, folder.size(), folder) != 0) return false;
    const std::string name = path.substr(folder.size());
    if (name.compare(0, stem.size(), stem) != 0 || name.size() <= stem.size() + 4) return false;
    if (name.compare(name.size() - 4, 4, ".dmp") != 0) return false;
    const std::string version = name.substr(stem.size(), name.size() - stem.size() - 4);
    return version.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

bool IsCrashReportCall(const std::vector<std::string>& args) {
    return !args.empty() && args[0] == platform::kCrashReportSwitch;
}

int RunCrashReport(const std::vector<std::string>& args, COrvoUpdaterServiceApp& app) {
    // "--crash-report <dump> <due 1|0> <caller window> <target> <parameters>"
    if (args.size() != 6 || (args[2] != "0" && args[2] != "1")) {
        platform::WriteStderr("OrvoUpdaterService: --crash-report is started by the updater itself after a crash; these arguments are not its own\n");
        return 2;
    }
    platform::ForgetCrashReportMark();  // the target and later updaters must not inherit it
    const std::wstring dump = platform::FromUtf8(args[1]);
    const std::unique_ptr<OrvoCrash::CExceptionWorker> worker = OrvoCrash::MakeWorkerForThisProgram();
    if (!dump.empty()) {
        // Only the dump this updater writes may leave the machine: never a file someone names.
        if (!IsOwnDumpPath(dump, *worker) || !platform::IsCrashDumpFile(dump)) {
            platform::WriteStderr("OrvoUpdaterService: refusing the crash report: '" + args[1] +
                                  "' is not a crash dump of this updater (" + platform::ToUtf8(worker->m_strDumpDir) + "/" +
                                  platform::ToUtf8(worker->m_strDumpName) + "_<version>.dmp)\n");
            return 2;
        }
        platform::OutputDebug(platform::FormatW(L"Save Dump File at %s\n", dump));
        worker->SendDump(dump);
    } else {
        platform::OutputDebug(L"[VUSVC] the updater crashed and no dump could be written\n");
    }

    // The hand-over the crashed process owed: the target when it was due, the caller window.
    UpDater::CUpdaterMgrEx& mgr = *UpDater::CUpdaterMgrEx::GetInstance();
    mgr.m_strParentWnd = platform::FromUtf8(args[3]);
    mgr.m_strExecuteFile = platform::FromUtf8(args[4]);
    mgr.m_strExecutePath = mgr.m_strExecuteFile;
    mgr.m_strExecuteParam = platform::FromUtf8(args[5]);
    mgr.m_bExecuteApp = args[2] == "1" ? 1 : 0;
    app.ExecuteApp();
    ReleaseSingletons();
    return 0;
}

}  // namespace OrvoApp
