// The manifest side of the updater: where the manifest comes from, where the updater works,
// where the application is installed, and the work lists that planning fills for the stages.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "manifest/ManifestItems.h"

namespace rapidxml {
template <class Ch>
class xml_node;
}

namespace UpDater {

class CManifestDocument;
struct ManifestLoadLines;

class CVersionBuilder {
public:
    CVersionBuilder();
    virtual ~CVersionBuilder();
    CVersionBuilder(const CVersionBuilder&) = delete;
    CVersionBuilder& operator=(const CVersionBuilder&) = delete;

    // Downloads the manifest at szUrl into the working folder and finds the install folder.
    bool Init(const std::wstring& szUrl);
    // Downloads m_strInitXmlUrl to m_strTempXmlPath and reads it, once, into memory.
    // *pbFromKept (when given): the server said the kept copy is current, and it was used.
    bool DownloadXml(bool* pbFromKept = nullptr);
    // The downloaded manifest's bytes: what was verified is what is parsed, planned and installed.
    // Read from m_strTempXmlPath the first time (never again); nullptr when it cannot be read.
    const std::string* DownloadedXml();
    // The downloaded manifest parsed from its bytes (from the file only when they cannot be read,
    // for the diagnostic).
    bool LoadDownloadedXml(CManifestDocument& doc, const ManifestLoadLines& lines);
    // The last manifest downloaded, kept with its validator for the next conditional fetch.
    std::wstring KeptXmlPath() const;
    // Finds the install-folder entry of the downloaded manifest; sets m_strInstallPath and
    // m_strInstallXmlPath.
    bool Init_InstallRegPath();
    // Empties the lists (under m_cs) and the paths.
    void Clear();

    // With a key trusted: fetches the signature at the manifest address + ".sig" and checks the
    // downloaded manifest's exact bytes with it (false, with a debug line, when it fails).
    // Without a trusted key: true.
    bool VerifyDownloadedXml();
    // The check itself, for manifest bytes and a signature on disk. Sets m_bSignedXml and
    // m_strSignerKeyId.
    bool VerifyXmlBytes(std::string_view xml, const std::wstring& szSigPath, std::wstring* pWhy);
    // For a signed manifest: refuses one older than the release applied last or expired.
    bool CheckSignedRelease();
    // The highest Sequence applied for this address: the one recorded for it, or the installed
    // manifest copy's when that is higher (0 when there is neither).
    uint64_t AppliedSequence() const;
    // After the installed copy was replaced: records a signed release as applied.
    void RecordAppliedRelease();
    // Where the downloaded manifest's signature is kept.
    std::wstring SignaturePath() const;

    // Appends the items of the manifest at szPath to the four lists. False when the file
    // cannot be read or parsed (with a debug line) or holds no element.
    bool ParseXml(const std::wstring& szPath, UpdateList& files, RegistList& registry, ShortcutList& shortcuts,
                  FirewallList& firewall);

    // Plans the update; true when there is nothing to do (all eight lists empty).
    bool CompareXml();
    // True when the registry holds the install folder that the manifest names.
    bool CheckInstallRegPath();
    // True when the registry value the item names is present.
    bool HasRegistryValue(const RegistItem& item);

    // Folder tokens with this builder's install folder.
    std::wstring ReplaceFolder(const std::wstring& szText) const;

    // Present beside the installed manifest copy from the first installed file of a run until
    // the copy is replaced: while it exists the copy no longer describes the installed files.
    // Empty while the copy's path is unknown: never a name relative to the working folder.
    std::wstring PendingUpdateMarker() const {
        return m_strInstallXmlPath.empty() ? std::wstring() : m_strInstallXmlPath + L".orvo-pending";
    }

    // Guards the eight lists (and nothing else); recursive like a critical section.
    std::recursive_mutex m_cs;
    UpdateList m_UpdateList;
    RegistList m_RegistList;
    ShortcutList m_ShortcutList;
    FirewallList m_FirewallList;
    UpdateList m_RemoveUpdateList;
    RegistList m_RemoveRegistList;
    ShortcutList m_RemoveShortcutList;
    FirewallList m_RemoveFirewallList;

    std::wstring m_strInstallPath;
    RegistItem m_InstallReg;
    std::wstring m_strTempFolder;
    std::wstring m_strInitXmlUrl;
    std::wstring m_strXmlName;
    std::wstring m_strUpdateFolder;
    std::wstring m_strInstallXmlPath;
    std::wstring m_strTempXmlPath;
    int m_bInitialized = 0;
    bool m_bSignedXml = false;  // the downloaded manifest passed the signature check
    std::wstring m_strSignerKeyId;  // the key that signed it
    uint64_t m_nXmlSequence = 0;    // its Sequence, once CheckSignedRelease accepted it

private:
    // ParseXml with a document whose buffers a second parse may reuse.
    // Without bFilePaths the file items' DownloadPath and InstallPath stay empty, for
    // SetFilePaths on the few items that are kept.
    bool ParseXmlWith(CManifestDocument& doc, const std::wstring& szPath, UpdateList* pFiles, RegistList& registry,
                      ShortcutList& shortcuts, FirewallList& firewall, bool bFilePaths = true);
    // The items of a loaded document appended to the four lists (no file items without pFiles).
    void ReadDocument(const CManifestDocument& doc, UpdateList* pFiles, RegistList& registry, ShortcutList& shortcuts,
                      FirewallList& firewall, bool bFilePaths = true);
    // Plans the file items of a loaded document whose files are missing (the check given:
    // folder resolved, file name).
    void PlanMissingFiles(const CManifestDocument& doc, const std::function<bool(const std::wstring&, const std::wstring&)>& exists);
    // DownloadPath and InstallPath of a file item whose Folder is resolved.
    void SetFilePaths(UpdateItem& item) const;

    // The downloaded manifest as Init_InstallRegPath parsed it, kept for CompareXml so that it
    // is not read and parsed twice; m_strInitDocPath names the file it was read from.
    std::unique_ptr<CManifestDocument> m_pInitDoc;
    std::wstring m_strInitDocPath;
    std::optional<std::string> m_xmlBytes;  // see DownloadedXml
    // Whether a signed run may plan from the installed copy: it must be the copy this updater
    // installed for this address (or the very manifest just verified).
    bool InstalledCopyIsVerified(std::string_view installed, bool bSameText) const;
    template <class Item, class Reader, class Finish>
    void ReadSection(const rapidxml::xml_node<wchar_t>* pSection, std::vector<Item>& list, Reader read, Finish finish);
};

std::wstring ReplaceFolder(const std::wstring& szText, const CVersionBuilder& builder);

}  // namespace UpDater
