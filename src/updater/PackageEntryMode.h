// Whether a package says what Unix permissions its file has.
#pragma once

#include <string>

namespace UpDater {

// True when the entry szEntryName of the zip package was made on a Unix system with its mode
// recorded. False for an entry made elsewhere (MS-DOS, NTFS) or without a mode: such a file
// should take the permissions of the file it replaces. True as well when the package or the
// entry cannot be read (the extraction reports that).
bool PackageEntryRecordsMode(const std::wstring& szZipPath, const std::wstring& szEntryName);

}  // namespace UpDater
