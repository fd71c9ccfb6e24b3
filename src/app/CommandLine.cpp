#include "app/CommandLine.h"

#include "manifest/FolderPaths.h"
#include "platform/debug.h"
#include "platform/fs.h"
#include "platform/msgbox.h"
#include "platform/process.h"
#include "platform/strings.h"

namespace OrvoApp {

std::vector<std::wstring> SplitPieces(const std::wstring& szText, const std::wstring& szSeparators) {
    std::vector<std::wstring> pieces;
    size_t start = 0;
    while (start < szText.size()) {
        const size_t end = szText.find_first_of(szSeparators, start);
        const size_t stop = end == std::wstring::npos ? szText.size() : end;
        if (stop > start) pieces.push_back(szText.substr(start, stop - start));
        start = stop + 1;
    }
    return pieces;
}

static std::wstring LastComponent(const std::wstring& szPath) {
    const size_t sep = szPath.find_last_of(L"\\/");
    return sep == std::wstring::npos ? szPath : szPath.substr(sep + 1);
}

void RunManifestSwap(const std::wstring& szManifestUrl, const std::wstring& szLocalPath) {
    const std::wstring updateFolder = platform::FormatW(L"%s\\%s", UpDater::GetUserDataFolder(), L"TALVEN\\Update");
    const std::wstring copy = platform::FormatW(L"%s\\Temp_%s", updateFolder, LastComponent(szManifestUrl));
    if (!platform::PathExists(copy)) {
        platform::OutputDebug(platform::FormatW(L"[VUSVC] Change Xml File skipped: no refreshed copy [%s]\n", copy));
        return;
    }
    platform::DeleteFileAt(szLocalPath);
    platform::MoveFileNoReplace(copy, szLocalPath);
    platform::DeleteFileAt(copy);
    platform::OutputDebug(L"[VUSVC] ----- Change Xml File !!!-----\n");
}

ArgsResult ParseUpdaterArgs(const std::wstring& szCommandLine, UpDater::CUpdaterMgrEx& mgr, const std::wstring& szTitle) {
    const std::wstring line = platform::TrimLeft(platform::TrimRight(szCommandLine, L"\""), L"\"");

    const auto swap = SplitPieces(line, L"||");
    if (swap.size() == 2) {
        RunManifestSwap(swap[0], swap[1]);
        return ArgsResult::SwapMode;
    }

    const auto pieces = SplitPieces(line, L" ");
    if (pieces.empty()) {
        platform::OutputDebug(L"[VUSVC] command line holds no arguments\n");
        platform::ShowMessageBox(L"[Error] OrvUpdaterService 실행 시키는데 필요한 인자가 정확하지 않습니다.", szTitle);
        return ArgsResult::Empty;
    }
    mgr.m_strXmlUrl = pieces[0];
    if (pieces.size() > 1) mgr.m_strParentWnd = pieces[1];
    if (pieces.size() > 2) mgr.m_strExecuteFile = pieces[2];
    if (pieces.size() > 3) {
        std::wstring params;
        for (size_t i = 3; i < pieces.size(); ++i) {
            params += pieces[i];
            if (i + 1 < pieces.size()) params += L' ';
        }
        mgr.m_strExecuteParam = platform::TrimLeft(platform::TrimRight(params, L"\""), L"\"");
    }
    return ArgsResult::Run;
}

ArgsResult ParseUpdaterArgs(const std::vector<std::wstring>& args, UpDater::CUpdaterMgrEx& mgr, const std::wstring& szTitle) {
    std::wstring line;
    for (const auto& arg : args) {
        if (!line.empty()) line += L' ';
        line += arg;
    }
    const ArgsResult result = ParseUpdaterArgs(line, mgr, szTitle);
    // Joined and split again at spaces, a parameter such as "x y" would reach the target as
    // two: when the first three arguments are the first three pieces, the parameters are the
    // remaining arguments, quoted so that the target gets each one whole.
    if (result == ArgsResult::Run && args.size() > 3 && mgr.m_strXmlUrl == args[0] && mgr.m_strParentWnd == args[1] &&
        mgr.m_strExecuteFile == args[2]) {
        mgr.m_strExecuteParam = platform::JoinCommandLineArgs(std::vector<std::wstring>(args.begin() + 3, args.end()));
    }
    return result;
}

}  // namespace OrvoApp
