// The four kinds of manifest entries and the lists that hold them, in document order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "manifest/DeltaEntry.h"
#include "platform/registry.h"

namespace UpDater {

// One installed file, delivered as a zip package.
struct UpdateItem {
    std::wstring FileHash;
    std::wstring DownloadUrl;
    std::wstring OriFileName;
    int64_t FileSize = 0;
    uint32_t RegCom = 0;  // 1: a COM component to register
    std::wstring Folder;  // tokens resolved
    std::wstring DownloadPath;  // temp folder + "\" + file name of DownloadUrl
    std::wstring InstallPath;   // Folder + "\" + OriFileName
    // Optional, written by the publisher: hex SHA-256 of the unpacked file, and the exact size
    // of the package (0: not given).
    std::wstring Sha256;
    int64_t PackageSize = 0;
    // Optional deltas from earlier versions ("Deltas" under the item), and the FileHash the
    // installed manifest gave this file when the plan paired them (empty otherwise).
    DeltaList Deltas;
    std::wstring InstalledFileHash;
};

// The progress window's skin package. Whether each of the first four fields was present
// matters when two manifests' skins are compared.
struct SkinItem {
    std::wstring FileHash;
    std::wstring DownloadUrl;
    std::wstring OriFileName;  // the movie inside the package
    int64_t FileSize = 0;      // of the movie
    bool bHasFileHash = false, bHasDownloadUrl = false, bHasOriFileName = false, bHasFileSize = false;
    // Optional, written by the publisher: hex SHA-256 and exact size of the package itself (it
    // may hold several files, all checked before any is unpacked).
    std::wstring Sha256;
    int64_t PackageSize = 0;
};

// Value types of a registry entry.
inline constexpr uint32_t kRegTypeNone = 0;
inline constexpr uint32_t kRegTypeString = 1;
inline constexpr uint32_t kRegTypeDword = 2;

// One registry value to write.
struct RegistItem {
    std::wstring Version;
    std::wstring RootPath;  // as written; selects hRootKey
    std::wstring Path;      // key path and value name; the last '\' separates them
    std::wstring Value;     // tokens resolved when read from a manifest
    uint32_t hRootKey = platform::RootCurrentUser;
    uint32_t ValueType = kRegTypeNone;
};

// One shortcut file.
struct ShortcutItem {
    std::wstring Version;
    uint32_t IsUrlType = 0;  // 1: internet shortcut
    std::wstring SourcePath;      // tokens resolved
    std::wstring DestFolderPath;  // full path of the shortcut file itself; tokens resolved
    std::wstring Des;
};

// One firewall exception.
struct FirewallItem {
    std::wstring Version;
    std::wstring Folder;  // tokens resolved
    std::wstring FileName;
    std::wstring AppName;
};

using UpdateList = std::vector<UpdateItem>;
using RegistList = std::vector<RegistItem>;
using ShortcutList = std::vector<ShortcutItem>;
using FirewallList = std::vector<FirewallItem>;

// True for the entry that names the install folder: a STRING value whose path, upper-cased,
// holds "INSTALL SZ".
bool IsInstallFolderEntry(const RegistItem& item);

}  // namespace UpDater
