#include "updater/PackageEntryMode.h"

namespace UpDater {

bool EntryRecordsMode(const CZipFileHeader& header) {
    return header.GetSystemCompatibility() == CZipFileHeader::sysUnix && (header.m_uExternalAttr >> 16) != 0;
}

}  // namespace UpDater
