#include "updater/UnzipFile.h"

#include "platform/debug.h"
#include "updater/PackageEntryMode.h"
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

void LogReaderError(const CZipException& e, const std::wstring& szZipPath) {
    wchar_t text[260];
    if (!e.GetErrorText(text, 260)) text[0] = L'\0';
    platform::OutputDebug(platform::FormatW(L"[OVUSVC] [Error %d line] UpDater::UnzipFile() [%s] File Unzip Failed \n", 428, text));
    RecordPackageUnreadable(szZipPath, text);
}

}  // namespace

bool UnzipEntry(const std::wstring& szZipPath, const std::wstring& szName, int64_t nSize, const std::wstring& szNear,
                std::wstring* pszUnpacked, bool* pbModeRecorded) {
    CZipArchive zip;
    std::wstring unpacked;
    try {
        zip.OpenArchive(szZipPath, CZipArchive::zipOpenReadOnly, 0);
        const int index = zip.FindFile(szName);
        if (index < 0) {
            platform::OutputDebug(platform::FormatW(
                L"[OVUSVC][Error %d line] CMgr::UnzipDownloadFile()   [%s] Upzip File Exist Failed \n", 349, szName));
            RecordPackageFileMissing(szZipPath, szName);
            return false;
        }
        CZipFileHeader header;
        zip.GetEntryInfo(header, index);
        if (nSize < 0 || header.m_uUncomprSize != static_cast<uint64_t>(nSize)) {
            platform::OutputDebug(platform::FormatW(
                L"[OVUSVC][Error %d line] CMgr::UnzipDownloadFile()   [%s] Upzip File size Failed \n", 359, szNear));
            RecordPackageSizeMismatch(szZipPath, szName, static_cast<int64_t>(header.m_uUncomprSize), nSize);
            return false;
        }
        platform::File file;
        if (uint32_t err = platform::CreateTempSibling(szNear, file, &unpacked)) {
            platform::OutputDebug(platform::FormatW(
                L"[OVUSVC][Error %d line] CMgr::UnzipDownloadFile()   [%s] File Create Failed [%u]\n", 352, szNear, err));
            return false;
        }
        const bool ok = zip.ExtractEntryTo(index, file);
        file.Close();
        zip.CloseArchive(false, false);
        if (ok) {
            *pszUnpacked = unpacked;
            if (pbModeRecorded != nullptr) *pbModeRecorded = EntryRecordsMode(header);
            return true;
        }
    } catch (const CZipException& e) {
        LogReaderError(e, szZipPath);
    }
    if (!unpacked.empty()) platform::DeleteFileAt(unpacked);
    return false;
}

bool UnzipFile(const std::wstring& szZipPath) {
    const std::wstring folder = PackageFolder(szZipPath);
    CZipArchive zip;
    try {
        zip.OpenArchive(szZipPath, CZipArchive::zipOpenReadOnly, 0);
        const int count = zip.GetEntryCount();
        for (int i = 0; i < count; ++i) {
            // A read-only leftover of an earlier run is replaced by the extraction itself,
            // which never follows a link it finds below the folder.
            if (!zip.ExtractEntry(i, folder, true, nullptr, 65536)) {
                zip.CloseArchive(false, false);
                return false;
            }
        }
        zip.CloseArchive(false, false);
        return true;
    } catch (const CZipException& e) {
        LogReaderError(e, szZipPath);
        return false;
    }
}

}  // namespace UpDater
