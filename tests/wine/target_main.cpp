// The application the end-to-end runs under Wine install and start: it appends each of its
// arguments, as Windows split them, in brackets and as UTF-8 to "starts" beside itself.
// "--hold FILE SECONDS" keeps FILE open without delete sharing for that long, as a running
// program keeps its own files, so that the updater cannot replace it meanwhile.
#include <windows.h>
#include <shellapi.h>

#include <string>

namespace {

std::string Utf8(const std::wstring& text) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring Beside(const std::wstring& name) {
    wchar_t self[MAX_PATH];
    const DWORD n = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, n);
    return path.substr(0, path.find_last_of(L"\\/") + 1) + name;
}

}  // namespace

int wmain() {
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (argv == nullptr) return 1;
    if (argc == 4 && std::wstring(argv[1]) == L"--hold") {
        const HANDLE h = ::CreateFileW(argv[2], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return 2;
        ::Sleep(static_cast<DWORD>(_wtoi(argv[3])) * 1000);
        ::CloseHandle(h);
        return 0;
    }
    std::string line;
    for (int i = 1; i < argc; ++i) line += "[" + Utf8(argv[i]) + "]";
    line += "\n";
    const HANDLE f = ::CreateFileW(Beside(L"starts").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return 3;
    DWORD written = 0;
    ::WriteFile(f, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    ::CloseHandle(f);
    return 0;
}
