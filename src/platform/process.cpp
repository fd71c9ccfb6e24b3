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

}  // namespace platform
