// What a signed manifest must satisfy beyond its signature: it is not older than the release
// applied last (Sequence) and not past its end of validity (Expires).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "manifest/ManifestXml.h"

namespace UpDater {

// A release number: decimal digits only (no sign, no blanks), at most 19 digits.
std::optional<uint64_t> ParseSequence(std::wstring_view szText);
// UTC date-time "YYYY-MM-DDTHH:MM:SSZ" as seconds since 1970; nullopt when malformed.
std::optional<int64_t> ParseUtcTime(std::wstring_view szText);

// The Sequence of a manifest's root; 0 when it has none, nullopt when it is malformed.
std::optional<uint64_t> ReadSequence(const XmlNode* pRoot);

// Empty when the manifest whose root is given may be applied after the release numbered
// nAppliedSequence at the time nNow (seconds since 1970, UTC); otherwise why not.
std::wstring CheckReleaseOrder(const XmlNode* pRoot, uint64_t nAppliedSequence, int64_t nNow);

}  // namespace UpDater
