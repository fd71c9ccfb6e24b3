#include <set>
#include <vector>

#include "manifest/FolderPaths.h"
#include "platform/debug.h"
#include "platform/fs.h"
#include "platform/msgbox.h"
#include "platform/strings.h"
#include "updater/FileServices.h"
#include "updater/ItemPaths.h"
#include "updater/MgrStageLoop.h"
#include "updater/UnzipFile.h"

namespace UpDater {

using platform::FormatW;

void CMgr::DiscardPackages() {
    std::lock_guard<std::recursive_mutex> lock(m_cs);
    for (const auto& item : m_UpdateList) platform::DeleteFileAt(item.DownloadPath);
}

bool CMgr::UnzipDownloadFile() {
    const int n = static_cast<int>(m_UpdateList.size());
    if (n == 0) return true;
    ReportStatesMax(FormatW(L"%d/%d 설치 중", 0, n), n);

    // Two passes. The first unpacks and checks every package, keeping each new file under a
    // unique name in the download folder; then all of them reach the disk with one wait, and the
    // second pass renames each over its installed file. An installed file is never removed
    // first, and is at every instant (power loss included) the old or the complete new file.
    struct Staged {
        std::wstring unpacked;  // the name the package gave it, for the messages
        std::wstring staged;
        std::wstring target;
    };
    std::vector<Staged> staged;
    std::set<std::wstring> touched;  // install folders whose entries change
    auto discardFrom = [&staged](size_t first) {
        for (size_t k = first; k < staged.size(); ++k) platform::DeleteFileAt(staged[k].staged);
    };

    bool failed = false;
    const int i = RunStageLoop(
        m_UpdateList,
        [](const UpdateItem& item, int i, int n) { return FormatW(L"%d/%d %s 파일 설치작업 중..", i, n, item.OriFileName); },
        [this, &staged, &touched](const UpdateItem& item) {
            if (!CheckFilePaths(item, L"CMgr::UnzipDownloadFile()")) return false;
            // Only the named file leaves the package, bounded by its announced size; the
            // package goes whatever happened, so nothing of it stays in the download folder.
            const std::wstring unpacked = FormatW(L"%s\\%s", m_strTempFolder, item.OriFileName);
            std::wstring name;
            const bool unpackedOk = UnzipEntry(item.DownloadPath, item.OriFileName, item.FileSize, unpacked, &name);
            platform::DeleteFileAt(item.DownloadPath);
            if (!unpackedOk) return false;
            if (!FileExists(item.Folder)) CreateFolderTree(item.Folder);
            staged.push_back({unpacked, name, item.InstallPath});
            touched.insert(item.Folder);
            return true;
        },
        &failed);
    if (failed || i != n || m_bCancel != 0) {
        discardFrom(0);
        DiscardPackages();
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

    // From the first replaced file until the manifest copy is replaced, the copy no longer
    // describes what is installed: mark that first, so an interrupted run is planned in full.
    CreateFolderTree(GetFolderPath(PendingUpdateMarker()));
    if (uint32_t err = platform::WriteFileAtomically(PendingUpdateMarker(), {})) {
        platform::OutputDebug(FormatW(L"[OVUSVC][Error %d line] CMgr::UnzipDownloadFile()   [%s] Marker Write Failed [%u]\n", 331,
                                      PendingUpdateMarker(), err));
        discardFrom(0);
        return false;
    }

    for (size_t k = 0; k < staged.size(); ++k) {
        const Staged& s = staged[k];
        if (platform::RenameReplacing(s.staged, s.target) == 0) continue;
        // Another volume, or something in the way: a flushed copy beside the installed file.
        std::wstring sibling;
        if (uint32_t err = platform::CopyToTempSibling(s.staged, s.target, &sibling)) {
            platform::OutputDebug(FormatW(L"[OVUSVC][Error %d line] CMgr::UnzipDownloadFile()   [%s] File -> [%s] File Copy Failed [%u]\n",
                                          385, s.unpacked, s.target, err));
            discardFrom(k);
            return false;
        }
        if (platform::RenameReplacing(sibling, s.target) != 0) {
            platform::DeleteFileAt(sibling);
            const std::wstring warning = FormatW(
                L"[OVUSVC][Warning %d line] CMgr::UnzipDownloadFile()   [%s] File -> [%s] File Move Failed \n", 389, s.unpacked,
                s.target);
            platform::OutputDebug(warning);
            platform::ShowMessageBox(warning, L"OrvoUpdaterService");
            m_bFileInUse = 1;
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
    return true;
}

}  // namespace UpDater
