#include <set>
#include <vector>

#include "manifest/FolderPaths.h"
#include "platform/debug.h"
#include "platform/i18n.h"
#include "platform/fs.h"
#include "platform/msgbox.h"
#include "platform/strings.h"
#include "updater/FileServices.h"
#include "updater/ItemPaths.h"
#include "updater/MgrStageLoop.h"
#include "updater/PackageChecks.h"
#include "updater/StageFailure.h"
#include "updater/UnzipFile.h"

namespace UpDater {

using platform::FormatW;

void CMgr::DiscardPackages() {
    std::lock_guard<std::recursive_mutex> lock(m_cs);
    for (const auto& item : m_UpdateList) platform::DeleteFileAt(item.DownloadPath);
}

bool CMgr::UnpackPackage(const UpdateItem& item, UnpackedFile* pFile) {
    pFile->unpacked = platform::JoinPath(m_strTempFolder, item.OriFileName);
    if (!UnzipEntry(item.DownloadPath, item.OriFileName, item.FileSize, pFile->unpacked, &pFile->staged, &pFile->modeRecorded))
        return false;
    if (!CheckUnpackedSha256(item, pFile->staged)) {
        RecordPackageHashMismatch(item.DownloadUrl, item.OriFileName);
        platform::DeleteFileAt(pFile->staged);
        return false;
    }
    return true;
}

void CMgr::KeepUnpackedAhead(size_t nIndex, const std::wstring& szStaged) {
    UnpackedFile file;
    file.unpacked = szStaged;
    file.staged = szStaged;
    StoreUnpackedAhead(nIndex, file);
}

void CMgr::StoreUnpackedAhead(size_t nIndex, const UnpackedFile& file) {
    std::lock_guard ahead(m_aheadLock);
    if (auto [it, fresh] = m_unpackedAhead.emplace(nIndex, file); !fresh) {
        platform::DeleteFileAt(it->second.staged);
        it->second = file;
    }
}

void CMgr::UnpackAhead(size_t nIndex, const UpdateItem& item) {
    {
        // A file made from a delta is ready already; there is no package.
        std::lock_guard ahead(m_aheadLock);
        if (m_unpackedAhead.count(nIndex) != 0) return;
    }
    // A package of another size than announced fails the download stage; nothing to prepare.
    if (m_bCancel != 0 || !IsSingleName(item.OriFileName) || HasParentComponent(item.Folder) ||
        (item.PackageSize > 0 && GetFileSize(item.DownloadPath) != item.PackageSize))
        return;
    UnpackedFile file;
    if (!UnpackPackage(item, &file)) return;
    StoreUnpackedAhead(nIndex, file);
}

void CMgr::DiscardUnpackedAhead() {
    std::lock_guard ahead(m_aheadLock);
    for (const auto& [index, file] : m_unpackedAhead) platform::DeleteFileAt(file.staged);
    m_unpackedAhead.clear();
}

bool CMgr::UnzipDownloadFile() {
    const int n = static_cast<int>(m_UpdateList.size());
    if (n == 0) return true;
    ReportStatesMax(FormatW(platform::Translate(L"%d/%d installing").c_str(), 0, n), n);
    const std::wstring itemFormat = platform::Translate(L"%d/%d installing %s..");

    // Two passes. The first unpacks and checks every package, keeping each new file under a
    // unique name in the download folder; then all of them reach the disk with one wait, and the
    // second pass renames each over its installed file. An installed file is never removed
    // first, and is at every instant (power loss included) the old or the complete new file.
    struct Staged {
        std::wstring unpacked;  // the name the package gave it, for the messages
        std::wstring staged;
        std::wstring target;
        std::wstring folder;
    };
    std::vector<Staged> staged;
    std::set<std::wstring> touched;  // install folders whose entries changed
    auto discardFrom = [&staged](size_t first) {
        for (size_t k = first; k < staged.size(); ++k) platform::DeleteFileAt(staged[k].staged);
    };

    bool failed = false;
    size_t position = 0;
    const int i = RunStageLoop(
        m_UpdateList,
        [&itemFormat](const UpdateItem& item, int i, int n) { return FormatW(itemFormat.c_str(), i, n, item.OriFileName); },
        [this, &staged, &position](const UpdateItem& item) {
            const size_t index = position++;
            if (!CheckFilePaths(item, L"CMgr::UnzipDownloadFile()")) return false;
            // Only the named file leaves the package, bounded by its announced size (most were
            // unpacked while the others still downloaded). The packages go together once this
            // pass is over, whatever happened: a file system that keeps freshly freed inodes
            // aside would otherwise step over every package freed so far for each new file.
            UnpackedFile file;
            bool unpackedOk = false;
            {
                std::lock_guard ahead(m_aheadLock);
                if (auto it = m_unpackedAhead.find(index); it != m_unpackedAhead.end()) {
                    file = std::move(it->second);
                    m_unpackedAhead.erase(it);
                    unpackedOk = true;
                }
            }
            if (!unpackedOk) unpackedOk = UnpackPackage(item, &file);
            if (!unpackedOk) return false;
            const std::wstring& name = file.staged;
            if (!FileExists(item.Folder)) CreateFolderTree(item.Folder);
            // A package made where files have no Unix mode must not turn a program into a plain
            // file: the new file keeps the permissions of the one it replaces.
            if (!file.modeRecorded && platform::PathExists(item.InstallPath)) platform::CopyPermissions(item.InstallPath, name);
            staged.push_back({file.unpacked, name, item.InstallPath, item.Folder});
            return true;
        },
        &failed);
    DiscardUnpackedAhead();  // what a stop before its item left
    DiscardPackages();
    if (failed || i != n || m_bCancel != 0) {
        discardFrom(0);
        return false;
    }

    std::vector<std::wstring> names;
    names.reserve(staged.size());
    for (const auto& s : staged) names.push_back(s.staged);
    if (uint32_t err = platform::FlushFiles(names)) {
        platform::OutputDebug(FormatW(L"[OVUSVC][Error] CMgr::UnzipDownloadFile()   [%s] File Flush Failed [%u]\n", m_strTempFolder, err));
        discardFrom(0);
        return false;
    }

    // The last point at which a cancel leaves the installation as it was. From the first
    // replaced file on, the replacement runs to its end and the run stops after it.
    if (m_bCancel != 0) {
        discardFrom(0);
        return false;
    }

    // From the first replaced file until the manifest copy is replaced, the copy no longer
    // describes what is installed: mark that first, so an interrupted run is planned in full.
    const std::wstring marker = PendingUpdateMarker();
    if (!marker.empty()) CreateFolderTree(GetFolderPath(marker));
    const uint32_t markerErr = marker.empty() ? platform::ERROR_PATH_NOT_FOUND_ : platform::WriteFileAtomically(marker, {});
    if (markerErr != 0) {
        platform::OutputDebug(FormatW(L"[OVUSVC][Error %d line] CMgr::UnzipDownloadFile()   [%s] Marker Write Failed [%u]\n", 331,
                                      marker, markerErr));
        discardFrom(0);
        return false;
    }

    for (size_t k = 0; k < staged.size(); ++k) {
        const Staged& s = staged[k];
        if (platform::RenameReplacing(s.staged, s.target) == 0) {
            touched.insert(s.folder);
            continue;
        }
        // Another volume, or something in the way: a flushed copy beside the installed file.
        // Once replacing has begun, a file that cannot be replaced is only a warning: the run
        // goes on with the others and keeps the old manifest copy (and the marker), so the next
        // run installs it.
        std::wstring sibling;
        platform::RemoveTempSiblings(s.target);  // what a killed copy left
        const uint32_t copyErr = platform::CopyToTempSibling(s.staged, s.target, &sibling);
        if (copyErr != 0) {
            platform::OutputDebug(FormatW(L"[OVUSVC][Error %d line] CMgr::UnzipDownloadFile()   [%s] File -> [%s] File Copy Failed [%u]\n",
                                          385, s.unpacked, s.target, copyErr));
        }
        if (copyErr != 0 || platform::RenameReplacing(sibling, s.target) != 0) {
            if (!sibling.empty()) platform::DeleteFileAt(sibling);
            const std::wstring warning = FormatW(
                L"[OVUSVC][Warning %d line] CMgr::UnzipDownloadFile()   [%s] File -> [%s] File Move Failed \n", 389, s.unpacked,
                s.target);
            platform::OutputDebug(warning);
            platform::ShowMessageBox(warning, L"OrvoUpdaterService");
            m_bFileInUse = 1;
        } else {
            touched.insert(s.folder);
        }
        platform::DeleteFileAt(s.staged);
    }

    // Every new name is on disk before the stage counts as done (and the manifest copy moves on).
    for (const auto& folder : touched) {
        if (uint32_t err = platform::SyncFolder(folder)) {
            platform::OutputDebug(
                FormatW(L"[OVUSVC][Error] CMgr::UnzipDownloadFile()   [%s] Folder Flush Failed [%u]\n", folder, err));
            return false;
        }
    }
    return m_bCancel == 0;
}

}  // namespace UpDater
