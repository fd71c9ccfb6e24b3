#include "platform/folders.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <cstring>
#include <vector>

#include "platform/fs.h"
#include "platform/windows/win_util.h"

namespace platform {

namespace {

// Drops a trailing separator except on a drive root ("C:\").
std::wstring WithoutTrailingSeparator(std::wstring path) {
    while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    return path;
}

}  // namespace

std::optional<std::wstring> GetSpecialFolderPath(int nCSIDL, bool bCreate) {
    // Installations made by the 32-bit updater live in the x86 Program Files folder; a 64-bit
    // build looks there too (on 32-bit Windows both are the same folder).
    if (nCSIDL == CSIDL_PROGRAM_FILES) nCSIDL = CSIDL_PROGRAM_FILESX86;
    wchar_t buf[MAX_PATH + 1] = {};
    if (!::SHGetSpecialFolderPathW(nullptr, buf, nCSIDL, bCreate ? TRUE : FALSE)) return std::nullopt;
    std::wstring path = WithoutTrailingSeparator(buf);
    // The shell names a folder that is not there yet when not asked to create it.
    if (path.empty() || !IsDirectory(path)) return std::nullopt;
    return path;
}

std::optional<std::wstring> GetLocalAppDataLowFolder() {
    PWSTR p = nullptr;
    const HRESULT hr = ::SHGetKnownFolderPath(FOLDERID_LocalAppDataLow, KF_FLAG_CREATE, nullptr, &p);
    std::optional<std::wstring> out;
    if (SUCCEEDED(hr) && p != nullptr) out = WithoutTrailingSeparator(p);
    ::CoTaskMemFree(p);
    return out;
}

std::optional<std::wstring> GetModuleFilePath() {
    std::vector<wchar_t> buf(MAX_PATH);
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return std::nullopt;
        if (n < buf.size()) return std::wstring(buf.data(), n);
        if (buf.size() >= 32768) return std::nullopt;
        buf.resize(buf.size() * 2);
    }
}

std::optional<OsVersionInfo> QueryOsVersion() {
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (!::GetVersionExW(&info)) return std::nullopt;
    return OsVersionInfo{info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion};
}

std::optional<FixedFileInfo> ReadFixedFileInfo(const std::wstring& szPath, uint32_t& nLastError) {
    nLastError = 0;
    // A file that cannot be read reports why; a readable one without a version block reports 0.
    {
        File file;
        if (uint32_t err = file.Open(szPath, File::Mode::Read)) {
            nLastError = err;
            return std::nullopt;
        }
    }
    const std::wstring path = win::NativePath(szPath);
    DWORD handle = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &handle);
    if (size == 0) return std::nullopt;
    std::vector<std::byte> block(size);
    if (!::GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return std::nullopt;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    if (!::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &len) || fixed == nullptr ||
        len < kFixedFileInfoSize || fixed->dwSignature != kFixedFileInfoSignature)
        return std::nullopt;
    FixedFileInfo out;
    std::memcpy(out.data(), fixed, out.size());
    return out;
}

std::optional<std::wstring> PerUserFolderProblem() { return std::nullopt; }

namespace {

std::optional<std::wstring> KnownFolder(REFKNOWNFOLDERID id) {
    PWSTR p = nullptr;
    const HRESULT hr = ::SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, &p);
    std::optional<std::wstring> out;
    if (SUCCEEDED(hr) && p != nullptr && *p != L'\0') out = WithoutTrailingSeparator(p);
    ::CoTaskMemFree(p);
    return out;
}

bool IsAtOrBelow(const std::wstring& path, const std::wstring& folder) {
    if (folder.empty() || path.size() < folder.size()) return false;
    if (::CompareStringOrdinal(path.c_str(), static_cast<int>(folder.size()), folder.c_str(),
                               static_cast<int>(folder.size()), TRUE) != CSTR_EQUAL)
        return false;
    return path.size() == folder.size() || path[folder.size()] == L'\\' || path[folder.size()] == L'/';
}

}  // namespace

bool IsSystemFolder(const std::wstring& szFolder) {
    const std::wstring folder = WithoutTrailingSeparator(win::NativePath(szFolder));
    for (const KNOWNFOLDERID* id : {&FOLDERID_ProgramFiles, &FOLDERID_ProgramFilesX86, &FOLDERID_ProgramFilesX64}) {
        const auto programs = KnownFolder(*id);
        if (programs && IsAtOrBelow(folder, win::NativePath(*programs))) return true;
    }
    return false;
}

std::optional<std::wstring> GetMachineKeysFolder() {
    const auto data = KnownFolder(FOLDERID_ProgramData);
    if (!data) return std::nullopt;
    return *data + L"\\OrvoUpdaterService\\trusted-keys.d";
}

std::optional<std::wstring> GetUserStateFolder() { return KnownFolder(FOLDERID_LocalAppData); }

std::wstring GetPrivateModuleFolder() {
    const auto exe = GetModuleFilePath();
    if (!exe) return {};
    const size_t sep = exe->find_last_of(L"\\/");
    return sep == std::wstring::npos ? std::wstring() : exe->substr(0, sep);
}

}  // namespace platform
