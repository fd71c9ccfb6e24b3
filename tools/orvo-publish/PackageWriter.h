// Files in one zip package, byte for byte the same for the same input.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace publish {

inline constexpr time_t kZipEpoch = 315532800;  // 1980-01-01, the earliest time a zip entry can hold

struct PackageInput {
    std::string source;  // the file to pack
    std::string entryName;
    uint32_t mode = 0644;  // Unix permission bits, kept so programs stay runnable
    time_t mtime = 0;      // fixed time of the entry (not before 1980)
};

// Writes the package to zipPath (deflated, or stored when deflating does not make it smaller).
// Throws InputError naming the file on failure.
void WritePackage(const PackageInput& in, const std::string& zipPath);
// Several files, in the order given; each entry deflated or stored as above.
void WritePackage(const std::vector<PackageInput>& entries, const std::string& zipPath);

}  // namespace publish
