#include <mutex>
#include <optional>

#include "http/HttpServerClient.h"
#include "manifest/FolderPaths.h"
#include "manifest/ManifestXml.h"
#include "manifest/WorkingFolder.h"
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

// The Skin entry of a loaded manifest; nullopt when it has none.
std::optional<SkinItem> SkinOf(const CManifestDocument& doc) {
    const XmlNode* pSkin = FindChild(doc.Root(), L"Skin");
    if (pSkin == nullptr) return std::nullopt;
    return ReadSkinItem(pSkin);
}

bool SkinChanged(const SkinItem& fresh, const std::optional<SkinItem>& local) {
    if (!local) return true;
    if (!local->bHasFileHash || !platform::EqualsNoCase(local->FileHash, fresh.FileHash)) return true;
    if (!local->bHasDownloadUrl || !platform::EqualsNoCase(local->DownloadUrl, fresh.DownloadUrl)) return true;
    if (!local->bHasOriFileName || !platform::EqualsNoCase(local->OriFileName, fresh.OriFileName)) return true;
    return local->bHasFileSize && local->FileSize != fresh.FileSize;
}

// The movie's name inside the skin package: relative, without a drive or a ".." component.
bool IsSkinMovieName(const std::wstring& szName) {
    return !szName.empty() && szName[0] != L'\\' && szName[0] != L'/' && szName.find(L':') == std::wstring::npos &&
           !HasParentComponent(szName);
}

// Made without following a link below where it lives; in the user's working folder with the
// same checks as the rest of that folder.
bool PrepareSkinFolder(const SkinFolderPlace& place) {
    if (place.base.empty()) return false;
    if (place.bShared) return PrepareWorkingFolder(place.base, place.relative);
    return platform::CreateFoldersBelow(place.base, place.relative) == 0;
}

}  // namespace

void CMgr::SkinDownload() {
    static const ManifestLoadLines kLines{L"SkinDownload", 148, 148, 148, 148};
    std::optional<SkinItem> fresh, local;
    {
        CManifestDocument doc;
        if (LoadDownloadedXml(doc, kLines)) fresh = SkinOf(doc);
        if (platform::PathExists(m_strInstallXmlPath) && doc.Load(m_strInstallXmlPath, kLines)) local = SkinOf(doc);
    }
    if (!fresh) fresh.emplace();
    // The skin lives in a folder of its own: whatever its package holds can never replace the
    // updater or a library beside it.
    const SkinFolderPlace place = SkinFolderFor(GetModuleFolder(), m_strInitXmlUrl);
    const std::wstring folder = place.Folder();
    if (folder.empty()) {
        platform::OutputDebug(L"[OVUSVC]  [Error 146 line] CMgr::SkinDownload  Skin Folder Find Failed \n");
        return;
    }
    if (!IsSkinMovieName(fresh->OriFileName)) {
        platform::OutputDebug(FormatW(L"[OVUSVC]  [Error %d line] CMgr::SkinDownload [%s] Skin File Name Refused \n", 146,
                                      fresh->OriFileName));
        return;
    }
    const std::wstring movie = platform::JoinPath(folder, fresh->OriFileName);

    if (SkinChanged(*fresh, local) || !FileExists(movie)) {
        const std::wstring package = platform::JoinPath(folder, GetFileName(fresh->DownloadUrl));
        if (IsSingleName(GetFileName(fresh->DownloadUrl)) && PrepareSkinFolder(place) &&
            CHttpServerClient::GetFileFromURL(fresh->DownloadUrl, package, PackageDownloadLimit(fresh->PackageSize, fresh->FileSize)) ==
                CHttpServerClient::kDownloadOk) {
            // Checked like every package before anything of it is unpacked.
            if (CheckSkinPackage(*fresh, package, m_bSignedXml)) UnzipFile(package);
            platform::DeleteFileAt(package);
        } else {
            platform::OutputDebug(FormatW(L"[OVUSVC]  [Error %d line] CMgr::SkinDownload [%s] Url  Download Failed [%d]Line \n",
                                          148, fresh->DownloadUrl, 148));
        }
    }
    if (FileExists(movie) && GetFileSize(movie) == fresh->FileSize) m_strSkinPath = movie;
}

}  // namespace UpDater
