#include "updater/UnzipFile.h"

#include "platform/debug.h"
#include "updater/StageFailure.h"
#include "platform/fs.h"
#include "platform/strings.h"
#include "zip/ZipArchive.h"

namespace UpDater {

namespace {

// Drive plus folder of the package, ending in a separator (empty for a bare file name).
std::wstring PackageFolder(const std::wstring& szZipPath) {
    const auto slash = szZipPath.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : szZipPath.substr(0, slash + 1);
}

}  // namespace

bool UnzipFile(const std::wstring& szZipPath) {
    const std::wstring folder = PackageFolder(szZipPath);
    CZipArchive zip;
    try {
        zip.OpenArchive(szZipPath, CZipArchive::zipOpenReadOnly, 0);
        const int count = zip.GetEntryCount();
        for (int i = 0; i < count; ++i) {
            // The very file the entry will become: a read-only leftover of an earlier run
            // must not make the extraction fail.
            const std::wstring target = zip.PredictExtractedFileName(i, folder, true);
            platform::SetReadOnly(target, false);
            platform::DeleteFileAt(target);
            if (!zip.ExtractEntry(i, folder, true, nullptr, 65536)) {
                zip.CloseArchive(false, false);
                return false;
            }
        }
        zip.CloseArchive(false, false);
        return true;
    } catch (const CZipException& e) {
        wchar_t text[260];
        if (!e.GetErrorText(text, 260)) text[0] = L'\0';
        platform::OutputDebug(
            platform::FormatW(L"[OVUSVC] [Error %d line] UpDater::UnzipFile() [%s] File Unzip Failed \n", 428, text));
        RecordPackageUnreadable(szZipPath, text);
        return false;
    }
}

}  // namespace UpDater
