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
    // As the C runtime hands WinMain its command line: the name runs to the first blank outside
    // double quotes; the blanks (any character up to a space) after it are skipped.
    const size_t n = szCommandLine.size();
    size_t i = 0;
    bool quoted = false;
    while (i < n && (szCommandLine[i] > L' ' || quoted)) {
        if (szCommandLine[i] == L'"') quoted = !quoted;
        ++i;
    }
    while (i < n && szCommandLine[i] <= L' ') ++i;
    return szCommandLine.substr(i);
}

}  // namespace platform
