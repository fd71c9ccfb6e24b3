// Keys and detached signatures in the minisign text format (Ed25519), so vendors can sign and
// check releases with tools they already have.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "trust/Crypto.h"

namespace trust {

using KeyId = std::array<uint8_t, 8>;

struct PublicKey {
    KeyId id{};
    std::array<uint8_t, crypto::kPublicKeyBytes> key{};
};

struct SecretKey {
    KeyId id{};
    std::array<uint8_t, crypto::kSecretKeyBytes> key{};
};

struct Signature {
    bool prehashed = true;  // signs the BLAKE2b-512 of the data ("ED"); legacy "Ed" signs the data
    KeyId id{};
    std::array<uint8_t, crypto::kSignatureBytes> sig{};
    std::string trustedComment;
    std::array<uint8_t, crypto::kSignatureBytes> globalSig{};  // over sig + trustedComment
};

// The key id as the format's comments show it (upper-case hex of the little-endian number).
std::string KeyIdText(const KeyId& id);

// A public key from its base64 line, or from the whole text of a public key file.
std::optional<PublicKey> ParsePublicKey(std::string_view text, std::string* pWhy);
std::string FormatPublicKeyFile(const PublicKey& key);
std::string PublicKeyLine(const PublicKey& key);

// Secret key files without a password (the format's encrypted keys are refused by name).
std::optional<SecretKey> ParseSecretKeyFile(std::string_view text, std::string* pWhy);
std::string FormatSecretKeyFile(const SecretKey& key);
std::optional<std::pair<PublicKey, SecretKey>> GenerateKeyPair();

std::optional<Signature> ParseSignatureFile(std::string_view text, std::string* pWhy);
std::string FormatSignatureFile(const Signature& sig);
// A prehashed signature of data with the given trusted comment.
std::optional<Signature> Sign(crypto::ByteView data, const SecretKey& key, const std::string& trustedComment);

// True when sig is a good signature of data by key (both the data signature and the one over
// the trusted comment); otherwise false with the reason.
bool Verify(crypto::ByteView data, const Signature& sig, const PublicKey& key, std::string* pWhy);

}  // namespace trust
