// What the updater remembers of the signed releases it applied, per manifest address, in the
// user's registry hive: a release replayed from the server, or a manifest copy someone else put
// in the install folder, is judged against this and not against files the server chose.
#pragma once

#include <cstdint>
#include <string>

namespace UpDater {

struct AppliedRelease {
    uint64_t nSequence = 0;        // highest Sequence applied (0: none recorded)
    std::wstring szKeyId;          // the key that signed that release
    std::wstring szManifestSha256; // of the manifest copy installed last (empty: none recorded)
};

// "Software\TALVEN\OrvoUpdaterService\Releases\<16 hex digits>" under HKCU; the digits are those
// of the address's working folder.
std::wstring ReleaseStateKey(const std::wstring& szUrl);

AppliedRelease LoadAppliedRelease(const std::wstring& szUrl);
// Records the release; a lower Sequence never replaces a higher one. False when the hive
// cannot be written (with a debug line).
bool StoreAppliedRelease(const std::wstring& szUrl, const AppliedRelease& release);

}  // namespace UpDater
