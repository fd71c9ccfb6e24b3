// Unpacks a downloaded package next to itself.
#pragma once

#include <cstdint>
#include <string>

namespace UpDater {

// Extracts every entry of the zip package into the folder that holds it, keeping the
// package's relative folders. False (with a diagnostic line) when the package is damaged,
// hostile or cannot be written; entries extracted before the failure stay on disk.
bool UnzipFile(const std::wstring& szZipPath);

// Unpacks only the file entry szName of a package, and only when it declares exactly nSize
// bytes (nothing is inflated before that is known), into a new file beside szNear created
// exclusively under a name nobody can predict; its path in *pszUnpacked. False, with the install
// stage's line, when the entry is missing (349), has another size (359) or cannot be read (428).
// With pbModeRecorded, also whether the entry records its Unix mode (EntryRecordsMode), read
// from the same opening of the package.
bool UnzipEntry(const std::wstring& szZipPath, const std::wstring& szName, int64_t nSize, const std::wstring& szNear,
                std::wstring* pszUnpacked, bool* pbModeRecorded = nullptr);

}  // namespace UpDater
