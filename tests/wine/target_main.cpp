// The application the end-to-end runs under Wine install and start: it appends each of its
// arguments, as Windows split them, in brackets and as UTF-8 to "starts" beside itself.
// "--hold FILE SECONDS" keeps FILE open without delete sharing for that long, as a running
// program keeps its own files, so that the updater cannot replace it meanwhile.
// "--caller FILE" plays the suite that starts the updater with its window: it shows a plain
// 500 x 260 window titled "caller", writes its handle (decimal) as the first line of FILE, a line
// "3034" for each updater message and, on the first one, a line "child WIDTHxHEIGHT TITLE" for
// each child window it holds; a second later it closes its window (and whatever is inside) and
// ends. It gives up after two minutes.
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

void Append(const std::wstring& file, const std::string& line) {
    const HANDLE f = ::CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    ::WriteFile(f, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    ::CloseHandle(f);
}

std::wstring g_callerFile;

LRESULT CALLBACK CallerProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    if (nMsg == 3034) {
        Append(g_callerFile, "3034\n");
        if (::SetTimer(hWnd, 1, 1000, nullptr) != 0 && ::GetPropW(hWnd, L"seen") == nullptr) {
            ::SetPropW(hWnd, L"seen", reinterpret_cast<HANDLE>(1));
            ::EnumChildWindows(
                hWnd,
                [](HWND child, LPARAM file) -> BOOL {
                    RECT r;
                    ::GetWindowRect(child, &r);
                    wchar_t title[128] = {};
                    ::GetWindowTextW(child, title, 128);
                    Append(*reinterpret_cast<std::wstring*>(file), "child " + std::to_string(r.right - r.left) + "x" +
                                                                       std::to_string(r.bottom - r.top) + " " + Utf8(title) + "\n");
                    return TRUE;
                },
                reinterpret_cast<LPARAM>(&g_callerFile));
        }
        return 0;
    }
    if (nMsg == WM_TIMER) {
        ::KillTimer(hWnd, 1);
        ::DestroyWindow(hWnd);
        return 0;
    }
    if (nMsg == WM_DESTROY) {
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcW(hWnd, nMsg, wParam, lParam);
}

int RunCaller(const std::wstring& file) {
    g_callerFile = file;
    WNDCLASSW wc{};
    wc.lpfnWndProc = CallerProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(GRAY_BRUSH));
    wc.lpszClassName = L"OrvoTestCaller";
    if (::RegisterClassW(&wc) == 0) return 4;
    // No frame: the client area is the whole 500 x 260 window.
    HWND hWnd = ::CreateWindowExW(0, wc.lpszClassName, L"caller", WS_POPUP | WS_CLIPCHILDREN, 20, 20, 500, 260, nullptr, nullptr,
                                  wc.hInstance, nullptr);
    if (hWnd == nullptr) return 5;
    ::ShowWindow(hWnd, SW_SHOW);
    Append(file, std::to_string(reinterpret_cast<uintptr_t>(hWnd)) + "\n");
    ::SetTimer(hWnd, 2, 120000, nullptr);
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return 0;
}

}  // namespace

int wmain() {
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (argv == nullptr) return 1;
    if (argc == 3 && std::wstring(argv[1]) == L"--caller") return RunCaller(argv[2]);
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
    Append(Beside(L"starts"), line);
    return 0;
}
