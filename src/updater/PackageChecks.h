// Checks of a package and its file against what the manifest announced for them.
#pragma once

#include <cstdint>
#include <string>

#include "manifest/ManifestItems.h"

namespace UpDater {

// The most bytes the item's package may have: its PackageSize when given, otherwise the
// unpacked size plus what one file's zip headers and deflate's worst case can add.
uint64_t PackageDownloadLimit(const UpdateItem& item);
// True when the item names no PackageSize or the downloaded package has exactly that size.
bool CheckDownloadedPackage(const UpdateItem& item);
// True when the item names no Sha256 or the unpacked file has it (debug line otherwise).
bool CheckUnpackedSha256(const UpdateItem& item, const std::wstring& szUnpacked);

}  // namespace UpDater
