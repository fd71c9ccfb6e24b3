// The public keys this updater trusts, and the check of a signed file against them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "trust/Minisign.h"

namespace trust {

// Beside the updater executable (and, one file per vendor, *.pub in the machine's key folder);
// one or more public keys, one per line (a minisign public key file works as it stands; several
// may be appended for key rotation). Anything at that name beside the executable, a link that
// leads nowhere included, means manifests must be signed; what cannot be read as keys refuses
// them all.
inline constexpr const wchar_t* kTrustedKeysFile = L"trusted-keys.pub";

struct TrustedKeys {
    std::vector<PublicKey> keys;
    // Set when keys were configured but cannot be used (unreadable or malformed file, a build
    // that cannot check signatures): then nothing may be trusted.
    std::wstring problem;
    // True when manifests must be signed.
    bool Required() const { return !keys.empty() || !problem.empty(); }
};

// Adds the keys in text (blank lines, '#' lines and untrusted comments skipped); a bad line
// sets problem, naming origin and the line.
void AddKeysFromText(std::string_view text, const std::wstring& origin, TrustedKeys& keys);
// The keys built in plus those of szFolder's key file and, when szFolder is a system folder (a
// shared installation), those of every *.pub file in the machine's key folder.
TrustedKeys LoadTrustedKeys(const std::wstring& szFolder);

// True when sigText is a good signature of data by one of the keys; otherwise false with the
// reason.
bool VerifyWithTrustedKeys(crypto::ByteView data, std::string_view sigText, const TrustedKeys& keys, std::wstring* pWhy);

// A file read whole when it holds at most nLimit bytes.
enum class ReadResult { Ok, Missing, Failed, TooLarge };
ReadResult ReadBoundedFile(const std::wstring& szPath, uint64_t nLimit, std::string& out);

// Lower-case hex SHA-256 of a file; nullopt when it cannot be read or this build cannot hash.
std::optional<std::string> Sha256OfFile(const std::wstring& szPath);

}  // namespace trust
