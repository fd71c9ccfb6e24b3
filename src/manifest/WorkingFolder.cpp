#include "manifest/WorkingFolder.h"

#include "manifest/FolderPaths.h"
#include "platform/debug.h"
#include "platform/fs.h"
#include "platform/strings.h"

namespace UpDater {

namespace {

const wchar_t* TrustText(platform::FolderTrust trust) {
    switch (trust) {
        case platform::FolderTrust::Trusted: return L"trusted";
        case platform::FolderTrust::Missing: return L"missing";
        case platform::FolderTrust::NotAFolder: return L"not a folder";
        case platform::FolderTrust::Link: return L"a link";
        case platform::FolderTrust::OtherOwner: return L"owned by another user";
        case platform::FolderTrust::WritableByOthers: return L"writable by other users";
    }
    return L"refused";
}

bool Refuse(const std::wstring& szFolder, const wchar_t* szWhy) {
    platform::OutputDebug(
        platform::FormatW(L"[OVUSVC] [Error %d line] CVersionBuilder::Init()  [%s] Working Folder Refused: %s \n", 97, szFolder, szWhy));
    return false;
}

}  // namespace

std::wstring AddressWorkingFolder(const std::wstring& szUrl) {
    // The folder only has to differ between the addresses one user's suites use; no one else can
    // write below this user's data folder.
    return L"TALVEN\\Update\\" + ManifestAddressHash(szUrl);
}

bool PrepareWorkingFolder(const std::wstring& szDataFolder, const std::wstring& szRelative) {
    if (uint32_t err = platform::CreateFoldersBelow(szDataFolder, szRelative)) {
        const std::wstring why = err == platform::ERROR_STOPPED_ON_SYMLINK_ ? L"a link on the way"
                                                                             : platform::FormatW(L"cannot be created (%u)", err);
        return Refuse(szDataFolder + L"\\" + szRelative, why.c_str());
    }
    // The data folder itself may be a link (to another disk, say); what it leads to must still
    // be this user's. Below it, nothing may be a link.
    std::wstring folder = szDataFolder;
    platform::FolderTrust trust = platform::IsDirectory(folder) ? platform::CheckFolderTrust(folder + L"\\.") : platform::FolderTrust::Missing;
    if (trust != platform::FolderTrust::Trusted) return Refuse(folder, TrustText(trust));
    size_t start = 0;
    while (start < szRelative.size()) {
        size_t end = szRelative.find_first_of(L"\\/", start);
        if (end == std::wstring::npos) end = szRelative.size();
        if (end > start) {
            folder += L"\\" + szRelative.substr(start, end - start);
            trust = platform::CheckFolderTrust(folder);
            if (trust != platform::FolderTrust::Trusted) return Refuse(folder, TrustText(trust));
        }
        start = end + 1;
    }
    return true;
}

}  // namespace UpDater
