// Whether a package says what Unix permissions its file has.
#pragma once

#include "zip/ZipFileHeader.h"

namespace UpDater {

// True when the entry was made on a Unix system with its mode recorded. False for an entry made
// elsewhere (MS-DOS, NTFS) or without a mode: such a file should take the permissions of the
// file it replaces.
bool EntryRecordsMode(const CZipFileHeader& header);

}  // namespace UpDater
