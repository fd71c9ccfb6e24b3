// Unpacks a downloaded package next to itself.
#pragma once

#include <string>

namespace UpDater {

// Extracts every entry of the zip package into the folder that holds it, keeping the
// package's relative folders. False (with a diagnostic line) when the package is damaged,
// hostile or cannot be written; entries extracted before the failure stay on disk.
bool UnzipFile(const std::wstring& szZipPath);

}  // namespace UpDater
