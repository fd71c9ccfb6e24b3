// Checks of a package and its file against what the manifest announced for them.
#pragma once

#include <cstdint>
#include <string>

#include "manifest/ManifestItems.h"

namespace UpDater {

// The most bytes the item's package may have: its PackageSize when given, otherwise the
// unpacked size plus what one file's zip headers and deflate's worst case can add.
uint64_t PackageDownloadLimit(const UpdateItem& item);
uint64_t PackageDownloadLimit(int64_t nPackageSize, int64_t nFileSize);
// True when the item names no PackageSize or the downloaded package has exactly that size.
bool CheckDownloadedPackage(const UpdateItem& item);
// True when the item names no Sha256 or the unpacked file has it (debug line otherwise).
bool CheckUnpackedSha256(const UpdateItem& item, const std::wstring& szUnpacked);
// The downloaded skin package against its PackageSize and Sha256 (of the package itself). A
// signed manifest's skin without Sha256 is held to its FileHash, the movie's SHA-256 as the
// publisher writes it: the movie is unpacked alone, privately, and compared. False with a line.
bool CheckSkinPackage(const SkinItem& skin, const std::wstring& szPackage, bool bSigned);

}  // namespace UpDater
