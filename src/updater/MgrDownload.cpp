#include "http/HttpServerClient.h"
#include "manifest/FolderPaths.h"
#include "manifest/ManifestXml.h"
#include "platform/debug.h"
#include "platform/fs.h"
#include "platform/strings.h"
#include "updater/FileServices.h"
#include "updater/MgrStageLoop.h"
#include "updater/UnzipFile.h"

namespace UpDater {

using platform::FormatW;
using Kaver::CHttpServerClient;

bool CMgr::DownloadUpdateFile() {
    const int n = static_cast<int>(m_UpdateList.size());
    if (n == 0) return true;
    ReportStatesMax(FormatW(L"%d/%d 다운로드", 0, n), n);
    bool failed = false;
    const int i = RunStageLoop(
        m_UpdateList,
        [](const UpdateItem& item, int i, int n) {
            return FormatW(L"%d/%d %s 파일 다운로드 중..", i, n, GetFileName(item.DownloadUrl));
        },
        [](const UpdateItem& item) {
            if (CHttpServerClient::GetFileFromURL(item.DownloadUrl, item.DownloadPath) == CHttpServerClient::kDownloadOk)
                return true;
            platform::OutputDebug(FormatW(L"[OVUSVC] [Error %d line] CMgr::DownloadUpdateFile()   Download Url [%s] Failed \n",
                                          266, item.DownloadUrl));
            return false;
        },
        &failed);
    return !failed && i == n;
}

namespace {

struct SkinEntry {
    bool loaded = false;  // the manifest loaded and has a Skin entry
    std::wstring FileHash, DownloadUrl, OriFileName;
    bool hasHash = false, hasUrl = false, hasName = false, hasSize = false;
    int64_t FileSize = 0;
};

SkinEntry ReadSkinEntry(const std::wstring& szManifest) {
    SkinEntry skin;
    static const ManifestLoadLines kLines{L"SkinDownload", 148, 148, 148, 148};
    CManifestDocument doc;
    if (!platform::PathExists(szManifest) || !doc.Load(szManifest, kLines)) return skin;
    const XmlNode* pSkin = FindChild(doc.Root(), L"Skin");
    if (pSkin == nullptr) return skin;
    skin.loaded = true;
    skin.FileHash = ChildText(pSkin, L"FileHash", &skin.hasHash);
    skin.DownloadUrl = ChildText(pSkin, L"DownloadUrl", &skin.hasUrl);
    skin.OriFileName = ChildText(pSkin, L"OriFileName", &skin.hasName);
    skin.FileSize = ParseInt64(ChildText(pSkin, L"FileSize", &skin.hasSize));
    return skin;
}

bool SkinChanged(const SkinEntry& fresh, const SkinEntry& local) {
    if (!local.loaded) return true;
    if (!local.hasHash || !platform::EqualsNoCase(local.FileHash, fresh.FileHash)) return true;
    if (!local.hasUrl || !platform::EqualsNoCase(local.DownloadUrl, fresh.DownloadUrl)) return true;
    if (!local.hasName || !platform::EqualsNoCase(local.OriFileName, fresh.OriFileName)) return true;
    return local.hasSize && local.FileSize != fresh.FileSize;
}

// The movie's name inside the skin package: relative, without a drive or a ".." component.
bool IsSkinMovieName(const std::wstring& szName) {
    return !szName.empty() && szName[0] != L'\\' && szName[0] != L'/' && szName.find(L':') == std::wstring::npos &&
           !HasParentComponent(szName);
}

}  // namespace

std::wstring CMgr::SkinFolder() { return FormatW(L"%s\\%s", GetModuleFolder(), kSkinFolderName); }

void CMgr::SkinDownload() {
    const SkinEntry fresh = ReadSkinEntry(m_strTempXmlPath);
    const SkinEntry local = ReadSkinEntry(m_strInstallXmlPath);
    // The skin lives in a folder of its own beside the updater: whatever its package holds can
    // never replace the updater or a library beside it.
    const std::wstring folder = SkinFolder();
    if (!IsSkinMovieName(fresh.OriFileName)) {
        platform::OutputDebug(FormatW(L"[OVUSVC]  [Error %d line] CMgr::SkinDownload [%s] Skin File Name Refused \n", 146,
                                      fresh.OriFileName));
        return;
    }
    const std::wstring movie = FormatW(L"%s\\%s", folder, fresh.OriFileName);

    if (SkinChanged(fresh, local) || !FileExists(movie)) {
        const std::wstring package = FormatW(L"%s\\%s", folder, GetFileName(fresh.DownloadUrl));
        if (IsSingleName(GetFileName(fresh.DownloadUrl)) && platform::CreateFoldersBelow(folder, L"") == 0 &&
            CHttpServerClient::GetFileFromURL(fresh.DownloadUrl, package) == CHttpServerClient::kDownloadOk) {
            UnzipFile(package);
            platform::DeleteFileAt(package);
        } else {
            platform::OutputDebug(FormatW(L"[OVUSVC]  [Error %d line] CMgr::SkinDownload [%s] Url  Download Failed [%d]Line \n",
                                          148, fresh.DownloadUrl, 148));
        }
    }
    if (FileExists(movie) && GetFileSize(movie) == fresh.FileSize) m_strSkinPath = movie;
}

}  // namespace UpDater
