// Folder tokens in manifest paths and the small path services shared by the updater.
#pragma once

#include <cstdint>
#include <string>

#include "platform/folders.h"

namespace UpDater {

// Resolves the first folder token (in fixed order) found in szText; szInstallPath stands in
// for "_INSTALL" and "_DESKTOP". An unresolvable text comes back unchanged.
std::wstring ReplaceFolder(const std::wstring& szText, const std::wstring& szInstallPath);

// Folder of the running executable, without a trailing separator; empty on failure.
std::wstring GetModuleFolder();
// The per-user data folder the updater works in; empty on failure.
std::wstring GetUserDataFolder();
// 16 hex digits of a hash of the whole manifest address: names the address's own working
// folder, skin folder and release state (the single-instance lock uses the same hash).
std::wstring ManifestAddressHash(const std::wstring& szUrl);

// A folder name that belongs to one manifest address: its file name made safe (letters, digits,
// '.', '-' and '_' kept, anything else '_', at most 64 characters) and a hash of the whole
// address, so that suites whose manifests share a file name stay apart.
std::wstring ManifestAddressFolderName(const std::wstring& szUrl);
// Where an updater whose executable is in szUpdaterFolder keeps the skin of the manifest at
// szUrl: the folder "Skin" beside it, or, for a shared installation (a system folder), the
// address's own folder below the user's working folder. The folders of relative are made below
// base by the caller; base is empty when the per-user folder cannot be found.
struct SkinFolderPlace {
    std::wstring base;
    std::wstring relative;
    bool bShared = false;
    std::wstring Folder() const;
};
SkinFolderPlace SkinFolderFor(const std::wstring& szUpdaterFolder, const std::wstring& szUrl);
// Where such an updater writes its crash dumps: beside it, or, for a shared installation, the
// user's state folder's "OrvoUpdaterService"; empty when that cannot be found.
std::wstring DumpFolderFor(const std::wstring& szUpdaterFolder);

// Creates every missing folder along szPath; true when the whole chain exists afterwards.
bool CreateFolderTree(const std::wstring& szPath);
// 0 when the system cannot be asked; 6 on every current system (see the version table).
uint32_t GetOsVersion();
// Copies the file's fixed version block; 0 (S_OK) or an HRESULT made from the system error.
int32_t GetFileVersion(const std::wstring& szPath, platform::FixedFileInfo& out);

// HRESULT from a Win32 error: 0 gives E_FAIL, a negative value stays, others 0x8007xxxx.
int32_t HResultFromLastError(uint32_t nError);

}  // namespace UpDater
