#include "updater/PackageEntryMode.h"

#include "zip/ZipArchive.h"
#include "zip/ZipException.h"
#include "zip/ZipFileHeader.h"

namespace UpDater {

bool PackageEntryRecordsMode(const std::wstring& szZipPath, const std::wstring& szEntryName) {
    try {
        CZipArchive zip;
        zip.OpenArchive(szZipPath, CZipArchive::zipOpenReadOnly, 0);
        CZipFileHeader header;
        bool recorded = true;
        for (int i = 0; i < zip.GetEntryCount(); ++i) {
            if (!zip.GetEntryInfo(header, i) || header.GetEntryName() != szEntryName) continue;
            recorded = header.GetSystemCompatibility() == CZipFileHeader::sysUnix && (header.m_uExternalAttr >> 16) != 0;
            break;
        }
        zip.CloseArchive(false, false);
        return recorded;
    } catch (const CZipException&) {
        return true;
    }
}

}  // namespace UpDater
