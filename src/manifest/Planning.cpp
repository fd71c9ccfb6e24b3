// Planning: pairs the new manifest's items with the installed manifest's items by identity.
// Each new item takes the first installed item of the same identity that is still there;
// the installed items never taken are the removed entries, in installed order. An index from
// identity to the chain of installed items (in document order) keeps this linear.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "manifest/FolderPaths.h"
#include "manifest/ManifestXml.h"
#include "manifest/RegValue.h"
#include "manifest/VersionBuilder.h"
#include "platform/debug.h"
#include "platform/fs.h"
#include "platform/path_identity.h"
#include "platform/strings.h"
#include "trust/TrustedKeys.h"

namespace UpDater {

namespace {

template <size_t N>
using Identity = std::array<std::wstring_view, N>;

// Not noexcept on purpose: the map then keeps each key's hash beside it, so that a lookup
// compares the texts of an entry only when the hashes match.
template <size_t N>
struct IdentityHash {
    size_t operator()(const Identity<N>& key) const {
        size_t h = 0;
        for (const auto& part : key) h = (h * 1000003u) ^ std::hash<std::wstring_view>{}(part);
        return h;
    }
};

// The installed items of one kind, and which of them have been taken by a new item.
template <class Item, size_t N>
class CInstalledItems {
public:
    using KeyOf = Identity<N> (*)(const Item&);

    CInstalledItems(std::vector<Item>& installed, KeyOf keyOf)
        : m_installed(installed), m_keyOf(keyOf), m_next(installed.size(), kNone), m_taken(installed.size(), false) {
        m_first.reserve(installed.size());
        // Built from the back so that each chain runs in document order.
        for (size_t i = installed.size(); i-- > 0;) {
            auto [it, inserted] = m_first.try_emplace(keyOf(installed[i]), i);
            if (!inserted) {
                m_next[i] = it->second;
                it->second = i;
            }
        }
    }

    // The first installed item with the identity of newItem that was not taken yet, now taken;
    // nullptr when there is none.
    const Item* TakeFirst(const Item& newItem) {
        auto it = m_first.find(m_keyOf(newItem));
        if (it == m_first.end() || it->second == kNone) return nullptr;
        const size_t i = it->second;
        it->second = m_next[i];
        m_taken[i] = true;
        return &m_installed[i];
    }

    // The items never taken, in installed order. Ends the use of the index.
    std::vector<Item> TakeLeftovers() {
        m_first.clear();
        std::vector<Item> left;
        for (size_t i = 0; i < m_installed.size(); ++i) {
            if (!m_taken[i]) left.push_back(std::move(m_installed[i]));
        }
        return left;
    }

private:
    static constexpr size_t kNone = SIZE_MAX;
    std::vector<Item>& m_installed;
    KeyOf m_keyOf;
    std::unordered_map<Identity<N>, size_t, IdentityHash<N>> m_first;  // identity -> first not taken
    std::vector<size_t> m_next;                                       // next item of the same identity
    std::vector<bool> m_taken;
};

Identity<2> FileIdentity(const UpdateItem& item) { return {item.OriFileName, item.Folder}; }
Identity<2> RegistryIdentity(const RegistItem& item) { return {item.RootPath, item.Path}; }
Identity<2> ShortcutIdentity(const ShortcutItem& item) { return {item.SourcePath, item.DestFolderPath}; }
Identity<4> FirewallIdentity(const FirewallItem& item) { return {item.Version, item.Folder, item.FileName, item.AppName}; }

constexpr uint32_t kMissingDword = 78965;

// Whether the installed files are there, each install folder looked up once rather than once
// per file. Open folders are bounded; past the bound the full path is checked.
class CInstalledFileCheck {
public:
    // Whether the item's InstallPath (Folder + "\\" + OriFileName) exists.
    bool Exists(const UpdateItem& item) { return Exists(item.Folder, item.OriFileName); }
    bool Exists(const std::wstring& szFolder, const std::wstring& szName) {
        auto it = m_probes.find(szFolder);
        if (it == m_probes.end()) {
            if (m_probes.size() >= kMaxFolders) return platform::PathExists(szFolder + L"\\" + szName);
            it = m_probes.try_emplace(szFolder, szFolder).first;
        }
        return it->second.Exists(szName);
    }

private:
    static constexpr size_t kMaxFolders = 256;
    std::unordered_map<std::wstring, platform::FolderProbe> m_probes;
};

}  // namespace

bool CVersionBuilder::CheckInstallRegPath() {
    CRegStringValue value(m_InstallReg.Path, L"", false, m_InstallReg.hRootKey);
    if (value.Value().empty()) return false;
    // Earlier runs may have stored the folder with the other separator.
    return platform::EqualsNoCase(ReplaceFolder(m_InstallReg.Value), platform::NativeSeparators(value.Value()));
}

bool CVersionBuilder::HasRegistryValue(const RegistItem& item) {
    switch (item.ValueType) {
        case kRegTypeString: {
            CRegStringValue value(item.Path, L"", false, item.hRootKey);
            return !value.Value().empty();
        }
        case kRegTypeDword: {
            // A stored 78965 cannot be told from a missing value and counts as missing.
            CRegDwordValue value(item.Path, kMissingDword, false, item.hRootKey);
            return value.IsRead() && static_cast<uint32_t>(value) != kMissingDword;
        }
        default:
            return true;
    }
}

void CVersionBuilder::PlanMissingFiles(const CManifestDocument& doc,
                                       const std::function<bool(const std::wstring&, const std::wstring&)>& exists) {
    const XmlNode* section = doc.Root() != nullptr ? FindChild(doc.Root(), L"UpdateData") : nullptr;
    std::unordered_map<std::wstring_view, std::wstring> folders;  // as written -> resolved, a few distinct ones
    std::wstring name;
    // Every child node is an item, text nodes included, as when the records are read.
    for (const XmlNode* node = section != nullptr ? section->first_node() : nullptr; node != nullptr; node = node->next_sibling()) {
        const FileItemPlace place = ReadFileItemPlace(node);
        auto folder = folders.find(place.Folder);
        if (folder == folders.end()) folder = folders.emplace(place.Folder, ReplaceFolder(std::wstring(place.Folder))).first;
        name.assign(place.OriFileName);
        if (exists(folder->second, name)) continue;
        UpdateItem item = ReadUpdateItem(node);
        item.Folder = folder->second;
        SetFilePaths(item);
        std::lock_guard<std::recursive_mutex> lock(m_cs);
        m_UpdateList.push_back(std::move(item));
    }
}

bool CVersionBuilder::CompareXml() {
    bool bTrusted = CheckInstallRegPath();

    // The installed copy is read once: what is compared is what is planned from.
    std::string installedCopy;
    const trust::ReadResult copyRead =
        bTrusted ? trust::ReadBoundedFile(m_strInstallXmlPath, ManifestLimits::kMaxFileBytes, installedCopy) : trust::ReadResult::Missing;
    const bool bHaveCopy = copyRead == trust::ReadResult::Ok;
    // Everything is then planned and nothing removed; the line says which copy could not be used.
    if (copyRead == trust::ReadResult::Failed || copyRead == trust::ReadResult::TooLarge)
        platform::OutputDebug(platform::FormatW(L"[OVUSVC] [Error %d line] CVersionBuilder::CompareXml() [%s] Installed Copy %s \n", 167,
                                                m_strInstallXmlPath,
                                                copyRead == trust::ReadResult::TooLarge ? L"Too Large" : L"Unreadable"));
    const std::string* fresh = DownloadedXml();
    // The usual run finds the installed copy holding the very text it fetched: then every item
    // pairs with itself, nothing is left over, and the copy need not be parsed.
    const bool bSameText = bHaveCopy && fresh != nullptr && installedCopy == *fresh;
    // Removals are planned from the copy only when it is the one installed for this address.
    if (bTrusted && bHaveCopy && !InstalledCopyIsVerified(installedCopy, bSameText)) bTrusted = false;

    // An interrupted update left the installed files somewhere between the copy and a newer
    // manifest: every item is planned again, but what the copy lists and the new manifest
    // dropped is still removed.
    const bool bPlanAll = !PendingUpdateMarker().empty() && platform::PathExists(PendingUpdateMarker());
    // Then a file item is planned only when its file is missing: records are made for those
    // items alone instead of for every item.
    const bool bFilesByPresence = bSameText && !bPlanAll;

    UpdateList newFiles, oldFiles;
    RegistList newRegistry, oldRegistry;
    ShortcutList newShortcuts, oldShortcuts;
    FirewallList newFirewall, oldFirewall;
    CInstalledFileCheck installed;
    {
        // One document for both: the second parse reuses the text buffer and node memory of the
        // first. The downloaded manifest is usually still parsed from Init_InstallRegPath.
        std::unique_ptr<CManifestDocument> pDoc = std::move(m_pInitDoc);
        const bool bParsed = pDoc != nullptr && m_strInitDocPath == m_strTempXmlPath;
        m_strInitDocPath.clear();
        if (pDoc == nullptr) pDoc = std::make_unique<CManifestDocument>();
        CManifestDocument& doc = *pDoc;
        // The file items' paths are set only on the items that end up in a list.
        UpdateList* pNewFiles = bFilesByPresence ? nullptr : &newFiles;
        static constexpr ManifestLoadLines kLines{L"ParseXml", 430, 436, 444, 452};
        if (bParsed || LoadDownloadedXml(doc, kLines)) ReadDocument(doc, pNewFiles, newRegistry, newShortcuts, newFirewall, false);
        // Without a trusted installed copy everything is planned and nothing is removed.
        if (bTrusted && bHaveCopy && !bSameText && doc.LoadBytes(installedCopy, m_strInstallXmlPath, kLines))
            ReadDocument(doc, &oldFiles, oldRegistry, oldShortcuts, oldFirewall, false);
        if (bFilesByPresence) PlanMissingFiles(doc, [&installed](const std::wstring& szFolder, const std::wstring& szName) {
            return installed.Exists(szFolder, szName);
        });
    }

    std::lock_guard<std::recursive_mutex> lock(m_cs);

    CInstalledItems<UpdateItem, 2> files(oldFiles, FileIdentity);
    std::vector<size_t> kept;  // new items left out of the plan, still files of the new manifest
    for (size_t k = 0; k < newFiles.size(); ++k) {
        UpdateItem& item = newFiles[k];
        const UpdateItem* old = bSameText ? &item : files.TakeFirst(item);
        const bool unchanged = !bPlanAll && old != nullptr && item.FileHash == old->FileHash &&
                               platform::EqualsNoCase(item.DownloadUrl, old->DownloadUrl) && item.FileSize == old->FileSize &&
                               installed.Exists(item);
        if (!unchanged) {
            SetFilePaths(item);
            // Which of the item's deltas could apply: the version the installed copy names.
            if (old != nullptr && old != &item) item.InstalledFileHash = old->FileHash;
            m_UpdateList.push_back(std::move(item));
        } else {
            kept.push_back(k);
        }
    }

    CInstalledItems<RegistItem, 2> registry(oldRegistry, RegistryIdentity);
    for (RegistItem& item : newRegistry) {
        const RegistItem* old = bSameText ? &item : registry.TakeFirst(item);
        bool unchanged = !bPlanAll && old != nullptr && item.Version == old->Version;
        if (unchanged && IsInstallFolderEntry(*old)) unchanged = item.Value == old->Value;
        if (unchanged) unchanged = HasRegistryValue(item);
        if (!unchanged) m_RegistList.push_back(std::move(item));
    }

    CInstalledItems<ShortcutItem, 2> shortcuts(oldShortcuts, ShortcutIdentity);
    for (ShortcutItem& item : newShortcuts) {
        const ShortcutItem* old = bSameText ? &item : shortcuts.TakeFirst(item);
        const bool unchanged = !bPlanAll && old != nullptr && item.Version == old->Version && item.Des == old->Des &&
                               platform::PathExists(item.DestFolderPath) && item.IsUrlType == old->IsUrlType;
        if (!unchanged) m_ShortcutList.push_back(std::move(item));
    }

    CInstalledItems<FirewallItem, 4> firewall(oldFirewall, FirewallIdentity);
    for (FirewallItem& item : newFirewall) {
        if ((!bSameText && firewall.TakeFirst(item) == nullptr) || bPlanAll) m_FirewallList.push_back(std::move(item));
    }

    m_RemoveUpdateList = files.TakeLeftovers();
    if (!m_RemoveUpdateList.empty()) {
        // A dropped entry may name, in other words, a file the new manifest still has
        // ("_INSTALL/sub" and "_INSTALL\sub"; letter case where the system ignores it): that
        // file is never removed.
        std::unordered_set<std::wstring> current;
        auto add = [&current](const UpdateItem& item) { current.insert(platform::PathIdentity(item.Folder + L"\\" + item.OriFileName)); };
        for (const UpdateItem& item : m_UpdateList) add(item);
        for (size_t k : kept) add(newFiles[k]);
        std::erase_if(m_RemoveUpdateList, [&current](const UpdateItem& item) {
            return current.count(platform::PathIdentity(item.Folder + L"\\" + item.OriFileName)) != 0;
        });
    }
    for (UpdateItem& item : m_RemoveUpdateList) SetFilePaths(item);
    m_RemoveRegistList = registry.TakeLeftovers();
    m_RemoveShortcutList = shortcuts.TakeLeftovers();
    m_RemoveFirewallList = firewall.TakeLeftovers();

    return m_UpdateList.empty() && m_RegistList.empty() && m_ShortcutList.empty() && m_FirewallList.empty() &&
           m_RemoveUpdateList.empty() && m_RemoveRegistList.empty() && m_RemoveShortcutList.empty() &&
           m_RemoveFirewallList.empty();
}

}  // namespace UpDater
