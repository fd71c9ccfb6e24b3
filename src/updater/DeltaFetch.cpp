#include "updater/DeltaFetch.h"

#include "delta/Patch.h"
#include "http/HttpFileFetch.h"
#include "platform/debug.h"
#include "platform/fs.h"
#include "platform/strings.h"
#include "trust/Crypto.h"
#include "trust/TrustedKeys.h"
#include "updater/FileServices.h"
#include "updater/ParallelDownloads.h"

namespace UpDater {

using platform::FormatW;

namespace {

// Beside the item's package name, which no other item of the plan shares.
std::wstring DeltaPath(const UpdateItem& item) { return item.DownloadPath + L".delta"; }

bool SameHex(const std::string& actual, const std::wstring& expected) {
    return platform::EqualsNoCase(platform::FromUtf8(actual), expected);
}

}  // namespace

CDeltaFetch::CDeltaFetch(const UpdateList& list, const std::wstring& szTempFolder) : m_tempFolder(szTempFolder) {
    std::map<std::wstring, int> uses;  // items that share one download file take their packages
    for (const UpdateItem& item : list) ++uses[item.DownloadPath];
    const bool usable = delta::Available() && trust::crypto::Available();
    bool said = false;
    for (size_t k = 0; k < list.size(); ++k) {
        const UpdateItem& item = list[k];
        if (item.Deltas.empty()) continue;
        if (!usable) {
            if (!said)
                platform::OutputDebug(L"[OVUSVC][Debug] CDeltaFetch   delta entries ignored: this build cannot apply deltas \n");
            said = true;
            continue;
        }
        // The result can only be trusted when the item says what it must hash to.
        if (item.InstalledFileHash.empty() || item.Sha256.empty() || item.FileSize <= 0 ||
            static_cast<uint64_t>(item.FileSize) > delta::kMaxSpan || uses[item.DownloadPath] != 1 ||
            !IsSingleName(item.OriFileName) || HasParentComponent(item.Folder))
            continue;
        for (const DeltaEntry& d : item.Deltas) {
            if (d.BaseFileHash != item.InstalledFileHash) continue;
            m_byPackage[item.DownloadPath] = {k, &item, &d};
            break;
        }
    }
}

bool CDeltaFetch::WasDelivered(size_t nIndex) const {
    std::lock_guard lock(m_lock);
    return m_delivered.count(nIndex) != 0;
}

std::optional<CDeltaFetch::Delivered> CDeltaFetch::Fetch(const std::wstring& szPackagePath,
                                                         const Kaver::CHttpServerClient::ByteProgress& progress) {
    const auto it = m_byPackage.find(szPackagePath);
    if (it == m_byPackage.end()) return std::nullopt;
    const Planned& p = it->second;
    const std::wstring local = DeltaPath(*p.item);
    std::wstring why;
    std::optional<std::wstring> staged;
    // The installed file may have been damaged or replaced since the last run: its content, not
    // the installed manifest, decides whether it is the base. Checked before anything is fetched.
    const auto installedSize = platform::FileSize(p.item->InstallPath);
    const auto installedHash = installedSize && delta::WindowLogFor(*installedSize, static_cast<uint64_t>(p.item->FileSize)) != 0
                                   ? trust::Sha256OfFile(p.item->InstallPath)
                                   : std::nullopt;
    if (!installedHash || !SameHex(*installedHash, p.delta->BaseSha256)) {
        why = FormatW(L"installed file [%s] is not the delta's base", p.item->InstallPath);
    } else if (FetchPackage(p.delta->DownloadUrl, local, static_cast<uint64_t>(p.delta->Size), progress) !=
        Kaver::CHttpServerClient::kDownloadOk) {
        why = L"download failed";
    } else if (GetFileSize(local) != p.delta->Size) {
        why = L"size differs";
    } else {
        staged = Apply(p, &why);
    }
    platform::DeleteFileAt(local);
    platform::DeleteFileAt(Kaver::CHttpFileFetch::PartPath(local));
    if (!staged) {
        platform::OutputDebug(FormatW(L"[OVUSVC][Debug] CDeltaFetch   [%s] delta [%s] not used (%s): full package \n",
                                      p.item->OriFileName, p.delta->DownloadUrl, why));
        return std::nullopt;
    }
    platform::OutputDebug(FormatW(L"[OVUSVC][Debug] CDeltaFetch   [%s] made from delta [%s] \n", p.item->OriFileName, p.delta->DownloadUrl));
    std::lock_guard lock(m_lock);
    m_delivered.insert(p.index);
    return Delivered{p.index, *staged};
}

std::optional<std::wstring> CDeltaFetch::Apply(const Planned& p, std::wstring* pszWhy) {
    const UpdateItem& item = *p.item;
    const std::wstring local = DeltaPath(item);
    const auto deltaHash = trust::Sha256OfFile(local);
    if (!deltaHash || !SameHex(*deltaHash, p.delta->Sha256)) {
        *pszWhy = L"delta hash differs";
        return std::nullopt;
    }
    // Should the file change after its hash was taken, the result's hash tells.
    const auto base = delta::ReadBase(item.InstallPath, delta::kMaxSpan - static_cast<uint64_t>(item.FileSize));
    if (!base) {
        *pszWhy = L"installed file unreadable or grown";
        return std::nullopt;
    }

    platform::File out;
    std::wstring staged;
    if (platform::CreateTempSibling(platform::JoinPath(m_tempFolder, item.OriFileName), out, &staged) != 0) {
        *pszWhy = L"cannot create the new file";
        return std::nullopt;
    }
    trust::crypto::Sha256 sha;
    const delta::ApplyResult result =
        delta::ApplyPatch(*base, local, static_cast<uint64_t>(item.FileSize), [&](std::span<const std::byte> piece) {
            sha.Update({reinterpret_cast<const uint8_t*>(piece.data()), piece.size()});
            return out.Write(piece.data(), piece.size());
        });
    out.Close();
    if (result != delta::ApplyResult::Ok) {
        *pszWhy = delta::ApplyResultText(result);
    } else if (!SameHex(sha.FinalHex(), item.Sha256)) {
        *pszWhy = L"result hash differs";
    } else {
        return staged;
    }
    platform::DeleteFileAt(staged);
    return std::nullopt;
}

}  // namespace UpDater
