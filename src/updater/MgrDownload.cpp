#include <mutex>

#include "http/HttpServerClient.h"
#include "manifest/FolderPaths.h"
#include "manifest/ManifestXml.h"
#include "platform/debug.h"
#include "platform/i18n.h"
#include "platform/fs.h"
#include "platform/strings.h"
#include "updater/DeltaFetch.h"
#include "updater/FileServices.h"
#include "updater/MgrByteProgress.h"
#include "updater/MgrStageLoop.h"
#include "updater/PackageChecks.h"
#include "updater/ParallelDownloads.h"
#include "updater/UnzipFile.h"

namespace UpDater {

using platform::FormatW;
using Kaver::CHttpServerClient;

bool CMgr::DownloadUpdateFile() {
    const int n = static_cast<int>(m_UpdateList.size());
    if (n == 0) return true;
    ReportStatesMax(FormatW(platform::Translate(L"%d/%d downloads").c_str(), 0, n), n);
    const std::wstring itemFormat = platform::Translate(L"%d/%d downloading %s..");
    bool failed = false;
    // The bytes shown are those of the download started last, the item the progress names.
    const auto bytes = ByteProgressFor(m_pInterface.get());
    std::mutex bytesMutex;
    std::wstring bytesOwner;
    // Hook: files whose installed version has a delta come as deltas, falling back to packages.
    CDeltaFetch deltas(m_UpdateList, m_strTempFolder);
    // Several packages travel at once; each item is still reported when its download starts.
    CParallelDownloads downloads(MaxParallelDownloads(), [&](const std::wstring& url, const std::wstring& path, uint64_t nMax) {
        CHttpServerClient::ByteProgress progress;
        if (bytes) {
            progress = [&, path](uint64_t nDone, uint64_t nTotal) {
                std::lock_guard bytesLock(bytesMutex);
                if (bytesOwner == path) bytes(nDone, nTotal);
            };
        }
        if (auto made = deltas.Fetch(path, progress)) {
            KeepUnpackedAhead(made->index, made->staged);
            return true;
        }
        if (FetchPackage(url, path, nMax, progress) == CHttpServerClient::kDownloadOk) return true;
        platform::OutputDebug(FormatW(L"[OVUSVC] [Error %d line] CMgr::DownloadUpdateFile()   Download Url [%s] Failed \n", 266, url));
        return false;
    });
    // Held until the last download ended, so that a cancel's clean-up waits for all of them.
    std::lock_guard<std::recursive_mutex> lock(m_cs);
    size_t position = 0;
    const int i = RunStageLoop(
        m_UpdateList,
        [&itemFormat](const UpdateItem& item, int i, int n) {
            return FormatW(itemFormat.c_str(), i, n, GetFileName(item.DownloadUrl));
        },
        [&](const UpdateItem& item) {
            {
                std::lock_guard bytesLock(bytesMutex);
                bytesOwner = item.DownloadPath;
            }
            // The network leaves the processor idle most of the time: the install stage's
            // unpacking of each package starts as soon as it arrived.
            const size_t index = position++;
            return downloads.Start(item.DownloadUrl, item.DownloadPath, PackageDownloadLimit(item),
                                   [this, index, &item] { UnpackAhead(index, item); });
        },
        &failed);
    const bool allDone = downloads.Finish();
    bool ok = !failed && allDone && i == n;
    // A package of another size than announced is not the one that was published.
    for (size_t k = 0; ok && k < m_UpdateList.size(); ++k)
        if (!deltas.WasDelivered(k) && !CheckDownloadedPackage(m_UpdateList[k])) ok = false;
    if (!ok) DiscardUnpackedAhead();
    return ok;
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

std::wstring CMgr::SkinFolder() { return platform::JoinPath(GetModuleFolder(), kSkinFolderName); }

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
    const std::wstring movie = platform::JoinPath(folder, fresh.OriFileName);

    if (SkinChanged(fresh, local) || !FileExists(movie)) {
        const std::wstring package = platform::JoinPath(folder, GetFileName(fresh.DownloadUrl));
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
