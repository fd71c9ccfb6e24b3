// Content type of a file from its first bytes (up to 256), as the upload announces it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Kaver {

inline constexpr const char* kFallbackMimeType = "application/octet-stream";

// Recognises images (gif, jpeg, png, bmp, tiff), zip, gzip, pdf, PostScript, wav, avi,
// executables, HTML, XML and plain text; anything else (and no bytes) is the fallback type.
std::string SniffMimeType(const uint8_t* pbyData, size_t cbyData);

}  // namespace Kaver
