#include <sodium.h>
#if ORVO_SHA256_OPENSSL
#include <openssl/evp.h>
#endif

#include <mutex>

#include "trust/Crypto.h"

namespace trust::crypto {

namespace {

bool Ready() {
    static const bool ok = sodium_init() >= 0;
    return ok;
}

}  // namespace

bool Available() { return Ready(); }

bool Ed25519Verify(ByteView signature, ByteView message, ByteView publicKey) {
    if (!Ready() || signature.size() != kSignatureBytes || publicKey.size() != kPublicKeyBytes) return false;
    return crypto_sign_verify_detached(signature.data(), message.data(), message.size(), publicKey.data()) == 0;
}

bool Ed25519Sign(ByteView message, ByteView secretKey, std::array<uint8_t, kSignatureBytes>& signature) {
    if (!Ready() || secretKey.size() != kSecretKeyBytes) return false;
    return crypto_sign_detached(signature.data(), nullptr, message.data(), message.size(), secretKey.data()) == 0;
}

bool Ed25519KeyPair(std::array<uint8_t, kPublicKeyBytes>& publicKey, std::array<uint8_t, kSecretKeyBytes>& secretKey) {
    if (!Ready()) return false;
    return crypto_sign_keypair(publicKey.data(), secretKey.data()) == 0;
}

bool Blake2b(ByteView message, std::span<uint8_t> out) {
    // The lengths the other backend has too.
    if (!Ready() || (out.size() != 20 && out.size() != 32 && out.size() != 48 && out.size() != 64)) return false;
    return crypto_generichash(out.data(), out.size(), message.data(), message.size(), nullptr, 0) == 0;
}

bool RandomBytes(std::span<uint8_t> out) {
    if (!Ready()) return false;
    randombytes_buf(out.data(), out.size());
    return true;
}

#if ORVO_SHA256_OPENSSL
// Files are hashed with the system's TLS library when it is there (it is loaded for HTTPS
// anyway): it uses the processor's SHA instructions, several times faster over every
// installed byte.
struct Sha256::State {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    bool ok = ctx != nullptr && EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr) == 1;
    ~State() { EVP_MD_CTX_free(ctx); }
};

Sha256::Sha256() : m_state(std::make_unique<State>()) {}
Sha256::~Sha256() = default;

void Sha256::Update(ByteView data) {
    if (m_state->ok) m_state->ok = EVP_DigestUpdate(m_state->ctx, data.data(), data.size()) == 1;
}

std::string Sha256::FinalHex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (!m_state->ok || EVP_DigestFinal_ex(m_state->ctx, digest, &len) != 1 || len != 32) return {};
    m_state->ok = false;
    char hex[65];
    sodium_bin2hex(hex, sizeof hex, digest, len);
    return hex;
}
#else
struct Sha256::State {
    crypto_hash_sha256_state st;
};

Sha256::Sha256() : m_state(std::make_unique<State>()) {
    if (Ready()) crypto_hash_sha256_init(&m_state->st);
}
Sha256::~Sha256() = default;

void Sha256::Update(ByteView data) {
    if (Ready()) crypto_hash_sha256_update(&m_state->st, data.data(), data.size());
}

std::string Sha256::FinalHex() {
    if (!Ready()) return {};
    uint8_t digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256_final(&m_state->st, digest);
    char hex[crypto_hash_sha256_BYTES * 2 + 1];
    sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
    return hex;
}
#endif

}  // namespace trust::crypto
