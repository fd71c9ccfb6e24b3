#include <set>
#include <vector>

#include "manifest/FolderPaths.h"
#include "platform/debug.h"
#include "platform/i18n.h"
#include "platform/fs.h"
#include "platform/msgbox.h"
#include "platform/strings.h"
#include "updater/FileServices.h"
#include "updater/MgrStageLoop.h"
#include "updater/StageFailure.h"
#include "updater/UnzipFile.h"

namespace UpDater {

using platform::FormatW;

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
    };
    std::vector<Staged> staged;
    std::set<std::wstring> touched;  // install folders whose entries change
    auto discardFrom = [&staged](size_t first) {
        for (size_t k = first; k < staged.size(); ++k) platform::DeleteFileAt(staged[k].staged);
    };

    bool failed = false;
    const int i = RunStageLoop(
        m_UpdateList,
        [&itemFormat](const UpdateItem& item, int i, int n) { return FormatW(itemFormat.c_str(), i, n, item.OriFileName); },
        [this, &staged, &touched](const UpdateItem& item) {
            if (!UnzipFile(item.DownloadPath)) return false;
            platform::DeleteFileAt(item.DownloadPath);

            const std::wstring unpacked = platform::JoinPath(m_strTempFolder, item.OriFileName);
            if (!FileExists(unpacked)) {
                platform::OutputDebug(FormatW(L"[OVUSVC][Error %d line] CMgr::UnzipDownloadFile()   [%s] Upzip File Exist Failed \n",
                                              349, item.OriFileName));
                RecordPackageFileMissing(item.DownloadUrl, item.OriFileName);
                return false;
            }
            if (GetFileSize(unpacked) != item.FileSize) {
                platform::OutputDebug(FormatW(L"[OVUSVC][Error %d line] CMgr::UnzipDownloadFile()   [%s] Upzip File size Failed \n",
                                              359, unpacked));
                RecordPackageSizeMismatch(item.DownloadUrl, item.OriFileName, GetFileSize(unpacked), item.FileSize);
                return false;
            }
            if (!FileExists(item.Folder)) CreateFolderTree(item.Folder);

            // Two items may carry the same file name: each new file gets a name of its own.
            const std::wstring name = platform::MakeTempSibling(unpacked);
            if (uint32_t err = platform::RenameReplacing(unpacked, name)) {
                platform::OutputDebug(FormatW(L"[OVUSVC][Error %d line] CMgr::UnzipDownloadFile()   [%s] File -> [%s] File Copy Failed [%u]\n",
                                              385, unpacked, item.InstallPath, err));
                return false;
            }
            staged.push_back({unpacked, name, item.InstallPath});
            touched.insert(item.Folder);
            return true;
        },
        &failed);
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
        const std::wstring sibling = platform::StagingSibling(s.target);
        if (uint32_t err = platform::CopyFileFlushed(s.staged, sibling)) {
            platform::OutputDebug(FormatW(L"[OVUSVC][Error %d line] CMgr::UnzipDownloadFile()   [%s] File -> [%s] File Copy Failed [%u]\n",
                                          385, s.unpacked, s.target, err));
            RecordInstallWriteFailed(s.target, err);
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
