#include "platform/dump.h"

#include <windows.h>
#include <dbghelp.h>

#include <cstring>

namespace platform {

namespace {

using MiniDumpWriteDumpFn = BOOL(WINAPI*)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE, PMINIDUMP_EXCEPTION_INFORMATION,
                                          PMINIDUMP_USER_STREAM_INFORMATION, PMINIDUMP_CALLBACK_INFORMATION);

CrashHandlerSettings g_settings;
LPTOP_LEVEL_EXCEPTION_FILTER g_previous = nullptr;
bool g_installed = false;
volatile LONG g_inFilter = 0;

// Creates the folder, its missing parents first; a text without a backslash has no parent.
void CreateFolderChain(std::wstring dir) {
    if (!dir.empty() && (dir.back() == L'\\' || dir.back() == L'/')) dir.pop_back();
    if (dir.empty()) return;
    if (::GetFileAttributesW(dir.c_str()) == INVALID_FILE_ATTRIBUTES) {
        const size_t slash = dir.find_last_of(L"\\/");
        if (slash != std::wstring::npos && slash > 0) CreateFolderChain(dir.substr(0, slash));
    }
    ::CreateDirectoryW(dir.c_str(), nullptr);
}

LONG WINAPI CrashFilter(EXCEPTION_POINTERS* pExceptionInfo) {
    // A fault while the crash is handled (the upload, the hand-over): never a second round.
    if (::InterlockedExchange(&g_inFilter, 1) != 0) ::TerminateProcess(::GetCurrentProcess(), 0);

    std::wstring written;
    HMODULE lib = ::LoadLibraryW((g_settings.strDbgHelpDir + L"\\DBGHELP.DLL").c_str());
    if (lib == nullptr) lib = ::LoadLibraryW(L"DBGHELP.DLL");
    if (lib == nullptr) {
        ::OutputDebugStringW(L"DBGHELP.DLL not found");
    } else if (auto write = reinterpret_cast<MiniDumpWriteDumpFn>(reinterpret_cast<void*>(::GetProcAddress(lib, "MiniDumpWriteDump")));
               write == nullptr) {
        ::OutputDebugStringW(L"DBGHELP.DLL too OLD");
    } else {
        if (::GetFileAttributesW(g_settings.strDumpDir.c_str()) == INVALID_FILE_ATTRIBUTES) CreateFolderChain(g_settings.strDumpDir);
        HANDLE file = ::CreateFileW(g_settings.strDumpPath.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            MINIDUMP_EXCEPTION_INFORMATION info{};
            info.ThreadId = ::GetCurrentThreadId();
            info.ExceptionPointers = pExceptionInfo;
            info.ClientPointers = FALSE;
            const BOOL ok = write(::GetCurrentProcess(), ::GetCurrentProcessId(), file, MiniDumpNormal, &info, nullptr, nullptr);
            ::CloseHandle(file);
            if (ok) written = g_settings.strDumpPath;
        }
    }
    if (g_settings.pfnContinue != nullptr) g_settings.pfnContinue(written);  // ends the process
    ::ExitProcess(0);
}

}  // namespace

bool InstallCrashHandler(const CrashHandlerSettings& settings) {
    g_settings = settings;
    LPTOP_LEVEL_EXCEPTION_FILTER previous = ::SetUnhandledExceptionFilter(CrashFilter);
    if (!g_installed) g_previous = previous;
    g_installed = true;
    return true;
}

void RemoveCrashHandler() {
    if (!g_installed) return;
    ::SetUnhandledExceptionFilter(g_previous);
    g_previous = nullptr;
    g_installed = false;
}

bool CrashHandlerInstalled() { return g_installed; }

// The handler runs in the faulting process, where the application itself hands over.
void SetCrashHandOver(const CrashHandOver&) {}
void ClearCrashHandOver() {}
void PrepareThreadForCrashes() {}
void ForgetCrashReportMark() {}

bool IsCrashDumpFile(const std::wstring& szPath) {
    const DWORD attributes = ::GetFileAttributesW(szPath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) return false;
    HANDLE file = ::CreateFileW(szPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    char magic[4] = {};
    DWORD read = 0;
    const bool ok = ::ReadFile(file, magic, 4, &read, nullptr) && read == 4 && std::memcmp(magic, "MDMP", 4) == 0;
    ::CloseHandle(file);
    return ok;
}

}  // namespace platform
