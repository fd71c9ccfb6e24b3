#include "manifest/FolderPaths.h"

#include <optional>

#include "platform/debug.h"
#include "platform/fs.h"
#include "platform/strings.h"

namespace UpDater {

namespace {

struct FolderToken {
    const wchar_t* szToken;
    int nCSIDL;  // 0: the install folder
};

// The order is the order of the lookup; only the first token present is replaced.
constexpr FolderToken kTokens[] = {
    {L"_INSTALL", 0},
    {L"_SYS32", platform::CSIDL_SYSTEM},
    {L"_MYDOC", platform::CSIDL_PERSONAL},
    {L"_MYAPP", platform::CSIDL_APPDATA},
    {L"_DESKTOP", 0},
    {L"_STARTMENUPROGRAM", platform::CSIDL_COMMON_PROGRAMS},
    {L"_PROGRAMFILES", platform::CSIDL_PROGRAM_FILES},
};

constexpr size_t kMaxPath = 260;

}  // namespace

std::wstring ReplaceFolder(const std::wstring& szText, const std::wstring& szInstallPath) {
    std::wstring result = szText;
    for (const auto& token : kTokens) {
        if (szText.find(token.szToken) == std::wstring::npos) continue;
        if (token.nCSIDL == 0) {
            if (!szInstallPath.empty() && platform::ReplaceAll(result, token.szToken, szInstallPath) > 0)
                return platform::NativeSeparators(std::move(result));
            return result;
        }
        auto folder = platform::GetSpecialFolderPath(token.nCSIDL, true);
        if (folder && folder->size() < kMaxPath) {
            platform::ReplaceAll(result, token.szToken, *folder);
            return platform::NativeSeparators(std::move(result));  // a resolved path reads as this system writes it
        } else {
            platform::OutputDebug(platform::FormatW(
                L"[OVUSVC] [Error %d line] CVersionBuilder::ReplaceFolder()  [nCSIDL:%d] Folder Find Failed \n", 635,
                token.nCSIDL));
        }
        return result;
    }
    return result;
}

std::wstring GetModuleFolder() {
    auto path = platform::GetModuleFilePath();
    if (!path) return {};
    const size_t sep = path->find_last_of(L"\\/");
    if (sep == std::wstring::npos) return {};
    return path->substr(0, sep == 0 ? 1 : sep);
}

std::wstring GetUserDataFolder() {
    std::optional<std::wstring> folder;
    if ((GetOsVersion() & 0xFFFF) == 6)
        folder = platform::GetLocalAppDataLowFolder();
    else
        folder = platform::GetSpecialFolderPath(platform::CSIDL_APPDATA, true);
    if (!folder || folder->empty()) return {};
    std::wstring result = platform::TrimRight(*folder, L"\\/");
    return result.empty() ? std::wstring(L"/") : result;
}

std::wstring ManifestAddressHash(const std::wstring& szUrl) {
    uint64_t hash = platform::Fnv1a64(platform::ToUtf8(szUrl));
    std::wstring hex(16, L'0');
    for (size_t i = hex.size(); i-- > 0; hash >>= 4) hex[i] = L"0123456789abcdef"[hash & 0xF];
    return hex;
}

std::wstring ManifestAddressFolderName(const std::wstring& szUrl) {
    std::wstring name = szUrl.substr(szUrl.find_last_of(L"\\/") + 1);
    name = name.substr(0, name.find_first_of(L"?#"));
    if (name.size() > 64) name.resize(64);
    for (wchar_t& c : name) {
        const bool plain = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
                           c == L'.' || c == L'-' || c == L'_';
        if (!plain) c = L'_';
    }
    // "." and ".." are names of their own on every system: never a component on their own.
    if (name.empty() || name.find_first_not_of(L'.') == std::wstring::npos) name = L"manifest";
    return name + L"-" + ManifestAddressHash(szUrl);
}

std::wstring SkinFolderPlace::Folder() const { return base.empty() ? std::wstring() : platform::JoinPath(base, relative); }

SkinFolderPlace SkinFolderFor(const std::wstring& szUpdaterFolder, const std::wstring& szUrl) {
    if (!platform::IsSystemFolder(szUpdaterFolder)) return {szUpdaterFolder, L"Skin", false};
    return {GetUserDataFolder(), L"TALVEN\\Update\\Skin\\" + ManifestAddressFolderName(szUrl), true};
}

std::wstring DumpFolderFor(const std::wstring& szUpdaterFolder) {
    if (!platform::IsSystemFolder(szUpdaterFolder)) return szUpdaterFolder;
    const auto state = platform::GetUserStateFolder();
    if (!state || state->empty()) return {};
    return platform::JoinPath(platform::TrimRight(*state, L"\\/"), L"OrvoUpdaterService");
}

bool CreateFolderTree(const std::wstring& szPath) {
    if (szPath.empty()) return false;
    std::wstring path = szPath;
    if (path.back() != L'\\') path += L'\\';
    // Paths that do not fit the fixed buffer are refused rather than cut.
    if (path.size() + 1 > kMaxPath) return false;
    for (size_t i = 0; i < path.size(); ++i) {
        if (path[i] != L'\\' && path[i] != L'/') continue;
        const std::wstring prefix = path.substr(0, i + 1);
        if (prefix == L"\\" || prefix == L"/" || platform::PathExists(prefix)) continue;
        const uint32_t err = platform::CreateDirectoryOne(prefix);
        if (err != 0 && err != platform::ERROR_ALREADY_EXISTS_) return false;
    }
    return true;
}

uint32_t GetOsVersion() {
    auto info = platform::QueryOsVersion();
    if (!info) return 0;
    if (info->platformId == platform::VER_PLATFORM_WIN32_WINDOWS && info->major == 4) {
        if (info->minor == 10) return 0x0A04;
        if (info->minor == 90) return 0x5A04;
        return 4;
    }
    if (info->platformId == platform::VER_PLATFORM_WIN32_NT) {
        if (info->major >= 6) return 6;
        if (info->major == 5) {
            if (info->minor == 0) return 5;
            if (info->minor == 1) return 0x0105;
            if (info->minor == 2) return 0x0205;
            return 6;
        }
    }
    return 4;
}

int32_t HResultFromLastError(uint32_t nError) {
    if (nError == 0) return static_cast<int32_t>(0x80004005u);
    if (static_cast<int32_t>(nError) < 0) return static_cast<int32_t>(nError);
    return static_cast<int32_t>(0x80070000u | (nError & 0xFFFF));
}

int32_t GetFileVersion(const std::wstring& szPath, platform::FixedFileInfo& out) {
    uint32_t err = 0;
    auto info = platform::ReadFixedFileInfo(szPath, err);
    if (!info) return HResultFromLastError(err);
    out = *info;
    return 0;
}

}  // namespace UpDater
