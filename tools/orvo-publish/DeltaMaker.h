// The publisher's deltas: for a changed file, deltas from the earlier versions it can get to the
// new one, kept only where they are clearly smaller than the file's package.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "manifest/DeltaEntry.h"

namespace publish {

// Compression level of the deltas, chosen by measuring (bench/run delta): on executables, data
// files with scattered changes and text, level 19 with long-distance matching made the smallest
// deltas; higher levels gained under 1 % for twice the time. Applying costs the same at any level.
inline constexpr int kDeltaLevel = 19;

// A delta is kept when it is at most three quarters of the package and saves at least 4 KiB:
// then a client saves a quarter of the bytes for the cost of hashing its installed file and one
// more name on the server; below that the full package is nearly as cheap and always works.
inline constexpr uint64_t kMinDeltaSaving = 4096;
bool DeltaWorthKeeping(uint64_t nDeltaSize, uint64_t nPackageSize);

// An earlier version of a file, whole.
struct DeltaBase {
    std::string fileHash;  // the FileHash the manifest of that version gave it
    std::string sha256;    // hex SHA-256 of bytes
    std::vector<std::byte> bytes;
};

struct DeltaTarget {
    std::string path;    // the new version on disk
    std::string sha256;  // its hex SHA-256
    uint64_t packageSize = 0;
};

// Makes the deltas from each base to the target and writes those worth keeping into
// dir/delta/ under names made of both ends' hashes; their entries, addressed below baseUrl.
// Throws InputError when the target cannot be read or a delta cannot be written.
std::vector<UpDater::DeltaEntry> MakeDeltas(const std::vector<DeltaBase>& bases, const DeltaTarget& target, const std::string& dir,
                                            const std::string& baseUrl);

// The relative name of the delta between two versions.
std::string DeltaName(const std::string& baseSha256, const std::string& targetSha256);

}  // namespace publish
