// The few cryptographic operations releases need, from one well-kept library per build (the
// backend is chosen in src/trust/CMakeLists.txt): libsodium on Linux, libgcrypt on Windows. Both
// accept and refuse the same signatures. A build without one answers Available() false and
// every check fails.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace trust::crypto {

using Bytes = std::vector<uint8_t>;
using ByteView = std::span<const uint8_t>;

constexpr size_t kPublicKeyBytes = 32;
constexpr size_t kSecretKeyBytes = 64;  // seed followed by the public key
constexpr size_t kSignatureBytes = 64;

// False when this build carries no cryptography (then nothing below succeeds).
bool Available();

// Strict standard base64 (padding required, no blanks); the same with every backend.
std::optional<Bytes> Base64Decode(std::string_view text);
std::string Base64Encode(ByteView bytes);

bool Ed25519Verify(ByteView signature, ByteView message, ByteView publicKey);
// False when unavailable.
bool Ed25519Sign(ByteView message, ByteView secretKey, std::array<uint8_t, kSignatureBytes>& signature);
bool Ed25519KeyPair(std::array<uint8_t, kPublicKeyBytes>& publicKey, std::array<uint8_t, kSecretKeyBytes>& secretKey);

// BLAKE2b with an output of 20, 32, 48 or 64 bytes.
bool Blake2b(ByteView message, std::span<uint8_t> out);

bool RandomBytes(std::span<uint8_t> out);

// SHA-256 over data given in pieces.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    void Update(ByteView data);
    // Lower-case hex of the digest; empty when unavailable.
    std::string FinalHex();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace trust::crypto
