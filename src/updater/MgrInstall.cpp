#include <set>

#include "manifest/FolderPaths.h"
#include "platform/debug.h"
#include "platform/fs.h"
#include "platform/msgbox.h"
#include "platform/strings.h"
#include "updater/FileServices.h"
#include "updater/MgrStageLoop.h"
#include "updater/UnzipFile.h"

namespace UpDater {

using platform::FormatW;

namespace {

// Puts the file's data on disk, so that a rename never exposes a file that a crash could empty.
bool FlushFile(const std::wstring& szPath) {
    platform::File file;
    return file.Open(szPath, platform::File::Mode::ReadWrite) == 0 && file.Flush();
}

}  // namespace

bool CMgr::UnzipDownloadFile() {
    const int n = static_cast<int>(m_UpdateList.size());
    if (n == 0) return true;
    ReportStatesMax(FormatW(L"%d/%d 설치 중", 0, n), n);
    bool failed = false;
    std::set<std::wstring> touched;  // install folders whose entries changed
    const int i = RunStageLoop(
        m_UpdateList,
        [](const UpdateItem& item, int i, int n) { return FormatW(L"%d/%d %s 파일 설치작업 중..", i, n, item.OriFileName); },
        [this, &touched](const UpdateItem& item) {
            if (!UnzipFile(item.DownloadPath)) return false;
            platform::DeleteFileAt(item.DownloadPath);

            const std::wstring unpacked = FormatW(L"%s\\%s", m_strTempFolder, item.OriFileName);
            if (!FileExists(unpacked)) {
                platform::OutputDebug(FormatW(L"[OVUSVC][Error %d line] CMgr::UnzipDownloadFile()   [%s] Upzip File Exist Failed \n",
                                              349, item.OriFileName));
                return false;
            }
            if (GetFileSize(unpacked) != item.FileSize) {
                platform::OutputDebug(FormatW(L"[OVUSVC][Error %d line] CMgr::UnzipDownloadFile()   [%s] Upzip File size Failed \n",
                                              359, unpacked));
                return false;
            }
            if (!FileExists(item.Folder)) CreateFolderTree(item.Folder);

            // The installed file is never removed first: the new one is flushed and renamed over
            // it, so it is at every instant the old or the new file. The unpacked file itself is
            // renamed there when it can be (same volume); otherwise a copy is written beside the
            // installed file and renamed. The renames reach the disk together at the end.
            touched.insert(item.Folder);
            if (FlushFile(unpacked) && platform::RenameReplacing(unpacked, item.InstallPath) == 0) return true;
            std::wstring staged;
            if (uint32_t err = platform::CopyToTempSibling(unpacked, item.InstallPath, staged)) {
                platform::OutputDebug(FormatW(L"[OVUSVC][Error %d line] CMgr::UnzipDownloadFile()   [%s] File -> [%s] File Copy Failed [%u]\n",
                                              385, unpacked, item.InstallPath, err));
                return false;
            }
            if (platform::RenameReplacing(staged, item.InstallPath) != 0) {
                platform::DeleteFileAt(staged);
                const std::wstring warning = FormatW(
                    L"[OVUSVC][Warning %d line] CMgr::UnzipDownloadFile()   [%s] File -> [%s] File Move Failed \n", 389, unpacked,
                    item.InstallPath);
                platform::OutputDebug(warning);
                platform::ShowMessageBox(warning, L"OrvoUpdaterService");
                m_bFileInUse = 1;
                return true;
            }
            platform::DeleteFileAt(unpacked);
            return true;
        },
        &failed);
    if (failed || i != n) return false;
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
