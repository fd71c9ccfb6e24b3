// The download stage's deltas: for a changed file whose installed version is the base of one of
// the item's deltas, the delta is fetched and applied instead of the package. The new file is
// made beside the download folder's unpacked files, checked against the item's size and
// Sha256, and then installed exactly as an unpacked file. Any failure leaves the item to its
// package, with a debug line; a delta never fails the update by itself.
#pragma once

#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "http/HttpServerClient.h"
#include "manifest/ManifestItems.h"

namespace UpDater {

class CDeltaFetch {
public:
    // Picks, for each item of the plan, the delta whose base is the installed version the plan
    // paired it with. The list must outlive this object and stay as it is.
    CDeltaFetch(const UpdateList& list, const std::wstring& szTempFolder);

    struct Delivered {
        size_t index = 0;     // position of the item in the list
        std::wstring staged;  // the checked new file
    };
    // Called in place of the download of the package at szPackagePath. With a delta planned for
    // that item: confirms the installed file by its hash, fetches the delta (resuming, capped
    // at its size, cancelled with the other transfers), applies and checks it. nullopt when
    // there is none or it failed: then the package is to be fetched.
    std::optional<Delivered> Fetch(const std::wstring& szPackagePath, const Kaver::CHttpServerClient::ByteProgress& progress);
    // Whether the item at this position got its file from a delta (no package was fetched).
    bool WasDelivered(size_t nIndex) const;

private:
    struct Planned {
        size_t index = 0;
        const UpdateItem* item = nullptr;
        const DeltaEntry* delta = nullptr;
    };
    std::optional<std::wstring> Apply(const Planned& p, std::wstring* pszWhy);

    std::wstring m_tempFolder;
    std::map<std::wstring, Planned> m_byPackage;  // by DownloadPath; fixed after construction
    mutable std::mutex m_lock;
    std::set<size_t> m_delivered;  // under m_lock
};

}  // namespace UpDater
