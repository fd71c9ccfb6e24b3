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

bool CMgr::UnzipDownloadFile() {
    const int n = static_cast<int>(m_UpdateList.size());
    if (n == 0) return true;
    ReportStatesMax(FormatW(L"%d/%d 설치 중", 0, n), n);
    // From here until the manifest copy is replaced, the copy no longer describes what is
    // installed: mark that first, so an interrupted run is planned in full the next time.
    CreateFolderTree(GetFolderPath(PendingUpdateMarker()));
    if (uint32_t err = platform::WriteFileAtomically(PendingUpdateMarker(), {})) {
        platform::OutputDebug(FormatW(L"[OVUSVC][Error %d line] CMgr::UnzipDownloadFile()   [%s] Marker Write Failed [%u]\n", 331,
                                      PendingUpdateMarker(), err));
        return false;
    }
    bool failed = false;
    const int i = RunStageLoop(
        m_UpdateList,
        [](const UpdateItem& item, int i, int n) { return FormatW(L"%d/%d %s 파일 설치작업 중..", i, n, item.OriFileName); },
        [this](const UpdateItem& item) {
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

            // The installed file is never removed first: the new one is written beside it,
            // flushed and renamed over it, so it is at every instant the old or the new file.
            const std::wstring staged = platform::StagingSibling(item.InstallPath);
            if (uint32_t err = platform::CopyFileFlushed(unpacked, staged)) {
                platform::OutputDebug(FormatW(L"[OVUSVC][Error %d line] CMgr::UnzipDownloadFile()   [%s] File -> [%s] File Copy Failed [%u]\n",
                                              385, unpacked, item.InstallPath, err));
                return false;
            }
            if (platform::ReplaceFileAtomic(staged, item.InstallPath) != 0) {
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
    return !failed && i == n;
}

}  // namespace UpDater
