#include "platform/process.h"

#include "platform/errors.h"

#include <windows.h>
#include <shellapi.h>

#include "platform/windows/win_util.h"

namespace platform {

MutexCreateResult CreateNamedMutex(const std::wstring& szName) {
    HANDLE h = ::CreateMutexW(nullptr, FALSE, szName.c_str());
    const uint32_t err = static_cast<uint32_t>(::GetLastError());
    if (h == nullptr) return {0, err};
    return {reinterpret_cast<intptr_t>(h), err == ERROR_ALREADY_EXISTS ? ERROR_ALREADY_EXISTS_ : 0};
}

void CloseMutexHandle(intptr_t hMutex) {
    if (hMutex != 0) ::CloseHandle(reinterpret_cast<HANDLE>(hMutex));
}

LaunchResult ShellOpen(const std::wstring& szFile, const std::wstring& szParams, int nShowCmd) {
    const std::wstring file = win::NativePath(szFile);
    HINSTANCE h = ::ShellExecuteW(nullptr, L"open", file.c_str(), szParams.empty() ? nullptr : szParams.c_str(),
                                  nullptr, nShowCmd);
    const auto instance = reinterpret_cast<intptr_t>(h);
    const DWORD err = instance > 32 ? 0 : ::GetLastError();
    return {instance, TranslateSystemError(err), static_cast<int64_t>(err)};
}

std::wstring ProcessCommandLine() {
    const wchar_t* line = ::GetCommandLineW();
    return line != nullptr ? std::wstring(line) : std::wstring();
}

namespace {

bool LeadsSomewhere(DWORD nStdHandle) {
    const HANDLE h = ::GetStdHandle(nStdHandle);
    return h != nullptr && h != INVALID_HANDLE_VALUE && ::GetFileType(h) != FILE_TYPE_UNKNOWN;
}

void ReopenOnConsole(DWORD nStdHandle, const wchar_t* szDevice, DWORD nAccess) {
    const HANDLE h = ::CreateFileW(szDevice, nAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) ::SetStdHandle(nStdHandle, h);
}

bool RunningUnderWine() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace

bool AttachParentConsole() {
    // Attached, Ctrl-C in that console reaches the process; handles the starter redirected (a
    // file, a pipe) stay as they are.
    if (::AttachConsole(ATTACH_PARENT_PROCESS)) {
        if (!LeadsSomewhere(STD_INPUT_HANDLE)) ReopenOnConsole(STD_INPUT_HANDLE, L"CONIN$", GENERIC_READ | GENERIC_WRITE);
        if (!LeadsSomewhere(STD_OUTPUT_HANDLE)) ReopenOnConsole(STD_OUTPUT_HANDLE, L"CONOUT$", GENERIC_READ | GENERIC_WRITE);
        if (!LeadsSomewhere(STD_ERROR_HANDLE)) ReopenOnConsole(STD_ERROR_HANDLE, L"CONOUT$", GENERIC_READ | GENERIC_WRITE);
        return LeadsSomewhere(STD_ERROR_HANDLE);
    }
    if (!LeadsSomewhere(STD_ERROR_HANDLE)) return false;
    // Started from a Unix shell under Wine: there is no Windows console to attach to, and Wine
    // turns the shell's Ctrl-C into a console event only for a process that has a console. A
    // console of its own (hidden) takes it; the standard handles stay the shell's.
    if (RunningUnderWine()) {
        const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE), out = ::GetStdHandle(STD_OUTPUT_HANDLE),
                     err = ::GetStdHandle(STD_ERROR_HANDLE);
        if (::AllocConsole()) {
            // With an X display Wine shows that console as a window; nothing is written to it.
            if (HWND console = ::GetConsoleWindow(); console != nullptr) ::ShowWindow(console, SW_HIDE);
            ::SetStdHandle(STD_INPUT_HANDLE, in);
            ::SetStdHandle(STD_OUTPUT_HANDLE, out);
            ::SetStdHandle(STD_ERROR_HANDLE, err);
        }
    }
    return true;
}

uint32_t CurrentProcessId() { return static_cast<uint32_t>(::GetCurrentProcessId()); }

int32_t RefreshElevationPolicy() {
    HMODULE lib = ::LoadLibraryW(L"ieframe.dll");
    if (lib == nullptr) return static_cast<int32_t>(HRESULT_FROM_WIN32(::GetLastError()));
    using Refresh = HRESULT(WINAPI*)();
    auto refresh = reinterpret_cast<Refresh>(reinterpret_cast<void*>(::GetProcAddress(lib, "IERefreshElevationPolicy")));
    const HRESULT hr = refresh != nullptr ? refresh() : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    ::FreeLibrary(lib);
    return static_cast<int32_t>(hr);
}

}  // namespace platform
