#include "platform/process.h"

namespace platform {

std::vector<std::wstring> SplitCommandLineArgs(const std::wstring& szParams) {
    std::vector<std::wstring> args;
    size_t i = 0;
    const size_t n = szParams.size();
    for (;;) {
        while (i < n && (szParams[i] == L' ' || szParams[i] == L'\t')) ++i;
        if (i >= n) break;
        std::wstring arg;
        bool quoted = false;
        while (i < n && (quoted || (szParams[i] != L' ' && szParams[i] != L'\t'))) {
            if (szParams[i] == L'\\') {
                size_t slashes = 0;
                while (i < n && szParams[i] == L'\\') ++slashes, ++i;
                if (i < n && szParams[i] == L'"') {
                    arg.append(slashes / 2, L'\\');
                    if (slashes % 2 == 1) {
                        arg += L'"';
                        ++i;
                    }
                } else {
                    arg.append(slashes, L'\\');
                }
            } else if (szParams[i] == L'"') {
                // "" inside quotes is a literal quote.
                if (quoted && i + 1 < n && szParams[i + 1] == L'"') {
                    arg += L'"';
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
            } else {
                arg += szParams[i++];
            }
        }
        args.push_back(std::move(arg));
    }
    return args;
}

std::wstring ArgumentsAfterProgramName(const std::wstring& szCommandLine) {
    const size_t n = szCommandLine.size();
    size_t i = 0;
    if (n > 0 && szCommandLine[0] == L'"') {
        i = szCommandLine.find(L'"', 1);
        i = i == std::wstring::npos ? n : i + 1;
    }
    // Unquoted, or text glued to the closing quote: the name runs on to the first blank.
    while (i < n && szCommandLine[i] != L' ' && szCommandLine[i] != L'\t') ++i;
    while (i < n && (szCommandLine[i] == L' ' || szCommandLine[i] == L'\t')) ++i;
    return szCommandLine.substr(i);
}

}  // namespace platform
