// A native skin's folder packed into the skin package: checked first as the updater reads it,
// so a vendor learns of a bad skin when publishing, not from a user's debug output.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

#include "manifest/ManifestItems.h"

namespace publish {

struct SkinPackage {
    std::string address;  // the package is <dir>/pkg/<address>.zip
    std::string sha256;   // of the package, hex
    uint64_t packageSize = 0;
    std::string layoutName;  // the file the manifest names, unpacked beside the images
    uint64_t layoutSize = 0;
};

// Packs every file of the folder (no subfolders, no links). Throws InputError naming the fault.
SkinPackage PackSkinFolder(const std::string& folder, const std::string& dir, std::optional<time_t> epoch);

// The manifest's Skin item for the package, below the release's base address.
UpDater::SkinItem SkinItemOf(const SkinPackage& package, const std::string& base);

}  // namespace publish
