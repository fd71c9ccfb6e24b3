#include "manifest/VersionBuilder.h"

#include "manifest/ManifestFailure.h"

#include "manifest/FolderPaths.h"
#include "manifest/ManifestFetch.h"
#include "manifest/ManifestXml.h"
#include "manifest/WorkingFolder.h"
#include "http/HttpServerClient.h"
#include "platform/fs.h"
#include "platform/debug.h"
#include "platform/strings.h"
#include "trust/TrustedKeys.h"

namespace UpDater {

namespace {

constexpr ManifestLoadLines kParseXmlLines{L"ParseXml", 430, 436, 444, 452};
constexpr ManifestLoadLines kInstallRegLines{L"Init_InstallRegPath", 150, 152, 156, 170};

}  // namespace

CVersionBuilder::CVersionBuilder() = default;

CVersionBuilder::~CVersionBuilder() { Clear(); }

std::wstring CVersionBuilder::ReplaceFolder(const std::wstring& szText) const {
    return UpDater::ReplaceFolder(szText, m_strInstallPath);
}

std::wstring ReplaceFolder(const std::wstring& szText, const CVersionBuilder& builder) {
    return builder.ReplaceFolder(szText);
}

void CVersionBuilder::Clear() {
    {
        std::lock_guard<std::recursive_mutex> lock(m_cs);
        m_UpdateList.clear();
        m_RegistList.clear();
        m_ShortcutList.clear();
        m_FirewallList.clear();
        m_RemoveUpdateList.clear();
        m_RemoveRegistList.clear();
        m_RemoveShortcutList.clear();
        m_RemoveFirewallList.clear();
    }
    m_strInstallPath.clear();
    m_strTempFolder.clear();
    m_strInitXmlUrl.clear();
    m_strXmlName.clear();
    m_strUpdateFolder.clear();
    m_strInstallXmlPath.clear();
    m_strTempXmlPath.clear();
    m_pInitDoc.reset();
    m_strInitDocPath.clear();
    m_xmlBytes.reset();
    m_bInitialized = 0;
    m_bSignedXml = false;
    m_strSignerKeyId.clear();
    m_nXmlSequence = 0;
}

template <class Item, class Reader, class Finish>
void CVersionBuilder::ReadSection(const XmlNode* section, std::vector<Item>& list, Reader read, Finish finish) {
    size_t count = 0;
    for (const XmlNode* node = section->first_node(); node != nullptr; node = node->next_sibling()) ++count;
    {
        std::lock_guard<std::recursive_mutex> lock(m_cs);
        list.reserve(list.size() + count);
    }
    // Every child node is an item, text nodes included.
    for (const XmlNode* node = section->first_node(); node != nullptr; node = node->next_sibling()) {
        Item item = read(node);
        finish(item);
        std::lock_guard<std::recursive_mutex> lock(m_cs);
        list.push_back(std::move(item));
    }
}

bool CVersionBuilder::ParseXml(const std::wstring& szPath, UpdateList& files, RegistList& registry,
                               ShortcutList& shortcuts, FirewallList& firewall) {
    CManifestDocument doc;
    return ParseXmlWith(doc, szPath, &files, registry, shortcuts, firewall);
}

bool CVersionBuilder::ParseXmlWith(CManifestDocument& doc, const std::wstring& szPath, UpdateList* pFiles,
                                   RegistList& registry, ShortcutList& shortcuts, FirewallList& firewall, bool bFilePaths) {
    if (!doc.Load(szPath, kParseXmlLines)) return false;
    if (doc.Root() == nullptr) return false;
    ReadDocument(doc, pFiles, registry, shortcuts, firewall, bFilePaths);
    return true;
}

void CVersionBuilder::SetFilePaths(UpdateItem& item) const {
    // Built in place: one allocation each, no temporaries.
    const std::wstring_view name = LastPathComponentView(item.DownloadUrl);
    item.DownloadPath.clear();
    item.DownloadPath.reserve(m_strTempFolder.size() + 1 + name.size());
    item.DownloadPath.append(m_strTempFolder).append(1, platform::kPathSeparator).append(name);
    item.InstallPath.clear();
    item.InstallPath.reserve(item.Folder.size() + 1 + item.OriFileName.size());
    item.InstallPath.append(item.Folder).append(1, platform::kPathSeparator).append(item.OriFileName);
}

void CVersionBuilder::ReadDocument(const CManifestDocument& doc, UpdateList* pFiles, RegistList& registry,
                                   ShortcutList& shortcuts, FirewallList& firewall, bool bFilePaths) {
    const XmlNode* root = doc.Root();
    if (root == nullptr) return;

    if (const XmlNode* section = pFiles != nullptr ? FindChild(root, L"UpdateData") : nullptr) {
        ReadSection(section, *pFiles, ReadUpdateItem, [this, bFilePaths](UpdateItem& item) {
            item.Folder = ReplaceFolder(item.Folder);
            if (bFilePaths) SetFilePaths(item);
        });
    }
    if (const XmlNode* section = FindChild(root, L"RegistData")) {
        ReadSection(section, registry, ReadRegistItem, [this](RegistItem& item) { item.Value = ReplaceFolder(item.Value); });
    }
    if (const XmlNode* section = FindChild(root, L"ShortcutData")) {
        ReadSection(section, shortcuts, ReadShortcutItem, [this](ShortcutItem& item) {
            item.SourcePath = ReplaceFolder(item.SourcePath);
            item.DestFolderPath = ReplaceFolder(item.DestFolderPath);
        });
    }
    if (const XmlNode* section = FindChild(root, L"Firewall")) {
        ReadSection(section, firewall, ReadFirewallItem, [this](FirewallItem& item) { item.Folder = ReplaceFolder(item.Folder); });
    }
}

bool CVersionBuilder::Init(const std::wstring& szUrl) {
    m_strInitXmlUrl = szUrl;
    m_strXmlName = LastPathComponent(szUrl);
    const std::wstring szDataFolder = GetUserDataFolder();
    if (szDataFolder.empty()) {
        platform::OutputDebug(platform::FormatW(L"[OVUSVC] [Error %d line] CVersionBuilder::Init()  App Folder Find Failed \n", 95));
        RecordNoDataFolder();
        return false;
    }
    // Each manifest address works in a folder of its own: another suite's run never touches
    // this one's working copy, kept copy or downloads.
    const std::wstring szWorking = AddressWorkingFolder(szUrl);
    m_strUpdateFolder = platform::JoinPath(szDataFolder, szWorking);
    m_strTempXmlPath = platform::JoinPath(m_strUpdateFolder, L"Temp_" + m_strXmlName);
    m_strTempFolder = platform::JoinPath(m_strUpdateFolder, L"Temp");
    // Files are downloaded, unpacked and staged here before they are installed: no other user
    // may be able to swap them, and no link may lead them elsewhere.
    if (!PrepareWorkingFolder(szDataFolder, szWorking + L"\\Temp")) return false;
    // A killed run may have left the half-written siblings of what it replaces whole; this run
    // holds the manifest's lock, so none of them is still being written.
    for (const std::wstring& path : {m_strTempXmlPath, KeptXmlPath(), KeptXmlPath() + L".meta"}) platform::RemoveTempSiblings(path);
    for (int attempt = 0; attempt < 2; ++attempt) {
        bool bFromKept = false;
        if (!DownloadXml(&bFromKept)) return false;
        if (VerifyDownloadedXml() && Init_InstallRegPath() && CheckSignedRelease()) {
            platform::RemoveTempSiblings(m_strInstallXmlPath);
            platform::RemoveTempSiblings(PendingUpdateMarker());
            return true;
        }
        // A refused copy never stands in for the next fetch. One the server's validators still
        // matched may be older than the signature beside it (both changed within a second):
        // fetched whole, the manifest is judged once more.
        ForgetKeptManifest(KeptXmlPath());
        if (!bFromKept) return false;
    }
    return false;
}

std::wstring CVersionBuilder::KeptXmlPath() const { return platform::JoinPath(m_strUpdateFolder, L"Kept_" + m_strXmlName); }

bool CVersionBuilder::DownloadXml(bool* pbFromKept) {
    m_xmlBytes.reset();
    // A body that never ends stops where the parser would refuse it anyway.
    if (FetchManifest(m_strInitXmlUrl, m_strTempXmlPath, KeptXmlPath(), ManifestLimits::kMaxFileBytes, pbFromKept) !=
        Kaver::CHttpServerClient::kDownloadOk) {
        platform::OutputDebug(platform::FormatW(L"[OVUSVC] [Error %d line] CVersionBuilder::DownloadXml()  InitXml Download Failed \n", 122));
        return false;
    }
    if (!platform::PathExists(m_strTempXmlPath) || DownloadedXml() == nullptr) {
        platform::OutputDebug(platform::FormatW(L"[OVUSVC] [Error %d line] CVersionBuilder::DownloadXml()  InitXml Download Failed(2) \n", 134));
        return false;
    }
    return true;
}

const std::string* CVersionBuilder::DownloadedXml() {
    if (!m_xmlBytes) {
        std::string bytes;
        if (trust::ReadBoundedFile(m_strTempXmlPath, ManifestLimits::kMaxFileBytes, bytes) != trust::ReadResult::Ok) return nullptr;
        m_xmlBytes = std::move(bytes);
    }
    return &*m_xmlBytes;
}

bool CVersionBuilder::LoadDownloadedXml(CManifestDocument& doc, const ManifestLoadLines& lines) {
    if (const std::string* bytes = DownloadedXml()) return doc.LoadBytes(*bytes, m_strTempXmlPath, lines);
    return doc.Load(m_strTempXmlPath, lines);
}

bool CVersionBuilder::Init_InstallRegPath() {
    // A second initialisation must not inherit the entry of an earlier manifest.
    m_InstallReg = RegistItem();
    m_pInitDoc.reset();
    m_strInitDocPath.clear();
    {
        auto pDoc = std::make_unique<CManifestDocument>();
        CManifestDocument& doc = *pDoc;
        if (!LoadDownloadedXml(doc, kInstallRegLines)) return false;
        const XmlNode* registry = FindChild(doc.Root(), L"RegistData");
        for (const XmlNode* node = registry != nullptr ? registry->first_node() : nullptr; node != nullptr;
             node = node->next_sibling()) {
            RegistItem item = ReadRegistItem(node);
            if (item.ValueType != kRegTypeString) continue;
            item.Path = ToUpperText(item.Path);
            if (item.Path.find(L"INSTALL SZ") != std::wstring::npos) {
                m_InstallReg = std::move(item);
                break;
            }
        }
        if (doc.Root() != nullptr) {
            m_pInitDoc = std::move(pDoc);
            m_strInitDocPath = m_strTempXmlPath;
        }
    }
    // An entry without a folder would put the installed copy and every "_INSTALL" path at the
    // file system's root; it is refused like a missing entry.
    if (m_InstallReg.Path.empty() || m_InstallReg.Value.empty()) {
        platform::OutputDebug(platform::FormatW(L"[OVUSVC] [Error %d line] CVersionBuilder::Init_InstallRegPath() Parse Failed \n", 203));
        RecordNoInstallFolder(m_strTempXmlPath);
        return false;
    }
    // The install folder is not known yet, so "_INSTALL" and "_DESKTOP" stay as written.
    m_strInstallPath = UpDater::ReplaceFolder(m_InstallReg.Value, std::wstring());
    m_strInstallXmlPath = platform::JoinPath(m_strInstallPath, m_strXmlName);
    return true;
}

}  // namespace UpDater
