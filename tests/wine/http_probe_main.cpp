// The HTTP client of the Windows build (over WinINet), driven from the command line by the
// Linux-side contract tests under Wine, which serve with the native nginx and fault servers:
//   get URL PATH [URL PATH ...]      one line per download: GetFileFromURL's result
//   post BASE PATH PARAM...          one line: PostToUrl's result, or "exception <code>"
// where PARAM is name=value (text) or name@path (a file). Debug lines go to stderr with ORVO_DEBUG.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "http/HttpException.h"
#include "http/HttpServerClient.h"

using Kaver::CHttpServerClient;

int wmain() {
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (argv == nullptr || argc < 2) return 2;
    const std::wstring verb = argv[1];
    if (verb == L"get" && argc % 2 == 0) {
        for (int i = 2; i + 1 < argc; i += 2) std::printf("%d\n", CHttpServerClient::GetFileFromURL(argv[i], argv[i + 1]));
        return 0;
    }
    if (verb == L"post" && argc >= 4) {
        std::vector<Kaver::_tsHttpParam> params;
        for (int i = 4; i < argc; ++i) {
            const std::wstring p = argv[i];
            const size_t at = p.find_first_of(L"=@");
            if (at == std::wstring::npos) return 2;
            params.push_back({p.substr(0, at), p.substr(at + 1), p[at] == L'@' ? 1 : 0});
        }
        try {
            std::printf("%d\n", CHttpServerClient::PostToUrl(argv[2], argv[3], params));
        } catch (const Kaver::httpclientexceptionW& e) {
            std::printf("exception %u\n", static_cast<unsigned>(e.GetErrorCode()));
        }
        return 0;
    }
    return 2;
}
