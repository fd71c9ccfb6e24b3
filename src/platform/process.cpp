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

std::wstring JoinCommandLineArgs(const std::vector<std::wstring>& args) {
    std::wstring line;
    for (const auto& arg : args) {
        if (!line.empty()) line += L' ';
        if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) {
            line += arg;
            continue;
        }
        line += L'"';
        size_t slashes = 0;
        for (wchar_t c : arg) {
            if (c == L'\\') {
                ++slashes;
                continue;
            }
            // Backslashes count double before a quote, which itself is escaped.
            line.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
            slashes = 0;
            line += c;
        }
        line.append(slashes * 2, L'\\');  // before the closing quote
        line += L'"';
    }
    return line;
}

}  // namespace platform
