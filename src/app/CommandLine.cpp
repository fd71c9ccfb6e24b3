#include "app/CommandLine.h"

#include "manifest/FolderPaths.h"
#include "manifest/ManifestSwap.h"
#include "platform/debug.h"
#include "platform/folders.h"
#include "platform/fs.h"
#include "platform/i18n.h"
#include "platform/msgbox.h"
#include "platform/process.h"
#include "platform/strings.h"
#include "platform/terminal.h"

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

void RunManifestSwap(const std::wstring& szManifestUrl, const std::wstring& szLocalPath) {
    UpDater::SwapInManifest(szManifestUrl, szLocalPath);
}

std::wstring UsageText(const std::wstring& szProgram) {
    return platform::FormatW(platform::Translate(L"Usage: %s <manifest address> <caller window|NULL> <target file> [parameters...]\n").c_str(),
                             szProgram) +
           platform::FormatW(platform::Translate(L"Try '%s --help' for more information.\n").c_str(), szProgram);
}

std::wstring HelpText(const std::wstring& szProgram) {
    using platform::Translate;
    std::wstring text = platform::FormatW(
        Translate(L"Usage: %s <manifest address> <caller window|NULL> <target file> [parameters...]\n").c_str(), szProgram);
    text += platform::FormatW(L"       %s <manifest address>||<local manifest path>\n       %s --help | --version\n\n", szProgram,
                              szProgram);
    text += Translate(
        L"Updates the application described by the manifest at <manifest address> (http or https): downloads and\n"
        "installs what changed since the last update, then starts <target file> (relative to the installed folder)\n"
        "with the parameters and tells the caller's window (a window id, or NULL) that it is done. When nothing\n"
        "changed it starts the target at once. The second form replaces the local manifest copy with the one an\n"
        "earlier run kept.\n");
    text += L"\n";
    text += Translate(
        L"Exit status:\n"
        "  0    updated, or nothing needed updating\n"
        "  1    the update failed; the message names the cause\n"
        "  2    the command line was not understood\n"
        "  130  cancelled (Ctrl-C)\n");
    text += L"\n";
    text += Translate(
        L"Environment:\n"
        "  LANGUAGE, LC_ALL, LC_MESSAGES, LANG  language of the messages\n"
        "  ORVO_DEBUG        also write the debug lines to standard error\n"
        "  ORVO_SYSROOT      root of the machine-wide folders and registry store\n"
        "  XDG_CACHE_HOME    working folder (TALVEN/Update below it)\n"
        "  XDG_CONFIG_HOME   per-user registry store\n"
        "  XDG_DATA_HOME     per-user application data\n"
        "  DISPLAY           the display to show the progress window on\n"
        "  https_proxy, http_proxy, no_proxy  proxies\n"
        "  CURL_CA_BUNDLE, SSL_CERT_FILE, SSL_CERT_DIR  certificates to trust instead of the system's\n");
    return text;
}

std::wstring VersionText(const std::wstring& szProgram) {
    platform::FixedFileInfo block{};
    const auto exe = platform::GetModuleFilePath();
    std::wstring version = L"unknown";
    if (exe && UpDater::GetFileVersion(*exe, block) == 0) {
        uint32_t ms = 0, ls = 0;  // dwFileVersionMS, dwFileVersionLS
        for (int k = 0; k < 4; ++k) {
            ms |= static_cast<uint32_t>(block[8 + k]) << (8 * k);
            ls |= static_cast<uint32_t>(block[12 + k]) << (8 * k);
        }
        version = platform::FormatW(L"%u.%u.%u.%u", ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF);
    }
    return platform::FormatW(L"%s %s\n", szProgram, version);
}

namespace {

bool IsHelpOption(const std::wstring& s) { return s == L"--help" || s == L"-h" || s == L"-?" || s == L"/?"; }
bool IsVersionOption(const std::wstring& s) { return s == L"--version" || s == L"-V"; }

// The first word of a line that starts with '-': help, version or a mistake.
ArgsResult RunOption(const std::vector<std::wstring>& pieces, const std::wstring& szTitle) {
    const std::wstring& option = pieces[0];
    const bool known = IsHelpOption(option) || IsVersionOption(option);
    if (known && pieces.size() == 1) {
        const bool help = IsHelpOption(option);
        platform::WriteStdout(platform::ToUtf8(help ? HelpText(szTitle) : VersionText(szTitle)));
        return help ? ArgsResult::Help : ArgsResult::Version;
    }
    platform::OutputDebug(platform::FormatW(L"[VUSVC] command line not understood [%s]\n", option));
    const std::wstring text = known ? platform::FormatW(platform::Translate(L"'%s' takes no arguments").c_str(), option)
                                    : platform::FormatW(platform::Translate(L"unknown option '%s'").c_str(), option);
    platform::ShowMessageBox(text, szTitle);
    platform::WriteStderr(platform::ToUtf8(UsageText(szTitle)));
    return ArgsResult::BadOption;
}

}  // namespace

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
        platform::ShowMessageBox(platform::Translate(L"[Error] The arguments OrvoUpdaterService needs to run are not right."), szTitle);
        platform::WriteStderr(platform::ToUtf8(UsageText(szTitle)));
        return ArgsResult::Empty;
    }
    if (!pieces[0].empty() && pieces[0][0] == L'-') return RunOption(pieces, szTitle);
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
