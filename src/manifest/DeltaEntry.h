// A binary delta offered for a file item: how to turn one earlier version of the file into the
// item's version without fetching the whole package.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace UpDater {

struct DeltaEntry {
    std::wstring BaseFileHash;  // FileHash of the version the delta applies to
    std::wstring BaseSha256;    // hex SHA-256 of that version, checked on the installed file
    std::wstring DownloadUrl;   // address of the delta
    int64_t Size = 0;           // exact size of the delta
    std::wstring Sha256;        // hex SHA-256 of the delta itself
};

using DeltaList = std::vector<DeltaEntry>;

// Most delta entries read under one item; the rest are ignored.
inline constexpr size_t kMaxDeltasPerItem = 16;

}  // namespace UpDater
