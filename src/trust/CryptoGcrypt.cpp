// The cryptography from libgcrypt (the Windows build's backend; Debian ships it built for MinGW).
// Its Ed25519 check is made as strict as the Linux backend's: a signature is refused when its
// scalar is not reduced or when the key or the commitment is a point of small order, for which
// one signature could match any message.
#include <gcrypt.h>

#include <algorithm>
#include <cstring>

#include "trust/Crypto.h"

namespace trust::crypto {

namespace {

bool Ready() {
    static const bool ok = [] {
        if (gcry_check_version("1.8.0") == nullptr) return false;
        // Nothing here keeps secrets long enough to need locked memory.
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    return ok;
}

// Owns an S-expression.
struct Sexp {
    gcry_sexp_t s = nullptr;
    ~Sexp() { gcry_sexp_release(s); }
};

// The group order L, little-endian.
constexpr uint8_t kOrder[32] = {0xed, 0xd3, 0xf5, 0x5c, 0x1a, 0x63, 0x12, 0x58, 0xd6, 0x9c, 0xf7, 0xa2, 0xde, 0xf9, 0xde, 0x14,
                                0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0x10};

bool ScalarReduced(const uint8_t* s) {
    for (int i = 31; i >= 0; --i) {
        if (s[i] != kOrder[i]) return s[i] < kOrder[i];
    }
    return false;
}

// The y-coordinates (sign bit aside) of the points of order 1, 2, 4 and 8.
constexpr uint8_t kSmallOrderY[][32] = {
    {1},
    {0xec, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
     0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x7f},
    {0},
    {0x26, 0xe8, 0x95, 0x8f, 0xc2, 0xb2, 0x27, 0xb0, 0x45, 0xc3, 0xf4, 0x89, 0xf2, 0xef, 0x98, 0xf0,
     0xd5, 0xdf, 0xac, 0x05, 0xd3, 0xc6, 0x33, 0x39, 0xb1, 0x38, 0x02, 0x88, 0x6d, 0x53, 0xfc, 0x05},
    {0xc7, 0x17, 0x6a, 0x70, 0x3d, 0x4d, 0xd8, 0x4f, 0xba, 0x3c, 0x0b, 0x76, 0x0d, 0x10, 0x67, 0x0f,
     0x2a, 0x20, 0x53, 0xfa, 0x2c, 0x39, 0xcc, 0xc6, 0x4e, 0xc7, 0xfd, 0x77, 0x92, 0xac, 0x03, 0x7a},
};

// A y of 2^255 - 19 or more is no canonical encoding.
bool YCanonical(const uint8_t* p) {
    if ((p[31] & 0x7f) != 0x7f) return true;
    for (int i = 30; i > 0; --i)
        if (p[i] != 0xff) return true;
    return p[0] < 0xed;
}

bool SmallOrder(const uint8_t* p) {
    for (const auto& y : kSmallOrderY) {
        if (std::memcmp(p, y, 31) == 0 && (p[31] & 0x7f) == y[31]) return true;
    }
    return false;
}

// The bytes of the named element of an S-expression, when it has exactly n of them (a leading
// 0x40 marks a compressed point and is dropped).
bool Element(gcry_sexp_t s, const char* name, uint8_t* out, size_t n) {
    Sexp token{gcry_sexp_find_token(s, name, 0)};
    if (token.s == nullptr) return false;
    size_t len = 0;
    const char* data = gcry_sexp_nth_data(token.s, 1, &len);
    if (data == nullptr) return false;
    if (len == n + 1 && static_cast<uint8_t>(data[0]) == 0x40) {
        ++data;
        --len;
    }
    if (len != n) return false;
    std::memcpy(out, data, n);
    return true;
}

bool Digest(int algo, ByteView message, std::span<uint8_t> out) {
    if (!Ready() || gcry_md_get_algo_dlen(algo) != out.size()) return false;
    gcry_md_hash_buffer(algo, out.data(), message.data(), message.size());
    return true;
}

}  // namespace

bool Available() { return Ready(); }

bool Ed25519Verify(ByteView signature, ByteView message, ByteView publicKey) {
    if (!Ready() || signature.size() != kSignatureBytes || publicKey.size() != kPublicKeyBytes) return false;
    const uint8_t* r = signature.data();
    const uint8_t* s = signature.data() + 32;
    const uint8_t* a = publicKey.data();
    if (!ScalarReduced(s) || SmallOrder(r) || SmallOrder(a) || !YCanonical(a)) return false;
    Sexp key, sig, data;
    if (gcry_sexp_build(&key.s, nullptr, "(public-key (ecc (curve Ed25519) (flags eddsa) (q %b)))", 32, a) != 0 ||
        gcry_sexp_build(&sig.s, nullptr, "(sig-val (eddsa (r %b) (s %b)))", 32, r, 32, s) != 0 ||
        gcry_sexp_build(&data.s, nullptr, "(data (flags eddsa) (hash-algo sha512) (value %b))",
                        static_cast<int>(message.size()), message.data()) != 0)
        return false;
    return gcry_pk_verify(sig.s, data.s, key.s) == 0;
}

bool Ed25519Sign(ByteView message, ByteView secretKey, std::array<uint8_t, kSignatureBytes>& signature) {
    if (!Ready() || secretKey.size() != kSecretKeyBytes) return false;
    Sexp key, data, sig;
    if (gcry_sexp_build(&key.s, nullptr, "(private-key (ecc (curve Ed25519) (flags eddsa) (q %b) (d %b)))", 32,
                        secretKey.data() + 32, 32, secretKey.data()) != 0 ||
        gcry_sexp_build(&data.s, nullptr, "(data (flags eddsa) (hash-algo sha512) (value %b))",
                        static_cast<int>(message.size()), message.data()) != 0 ||
        gcry_pk_sign(&sig.s, data.s, key.s) != 0)
        return false;
    return Element(sig.s, "r", signature.data(), 32) && Element(sig.s, "s", signature.data() + 32, 32);
}

bool Ed25519KeyPair(std::array<uint8_t, kPublicKeyBytes>& publicKey, std::array<uint8_t, kSecretKeyBytes>& secretKey) {
    if (!Ready()) return false;
    Sexp params, pair;
    if (gcry_sexp_build(&params.s, nullptr, "(genkey (ecc (curve Ed25519) (flags eddsa)))") != 0 ||
        gcry_pk_genkey(&pair.s, params.s) != 0)
        return false;
    Sexp priv{gcry_sexp_find_token(pair.s, "private-key", 0)};
    if (priv.s == nullptr || !Element(priv.s, "d", secretKey.data(), 32) || !Element(priv.s, "q", publicKey.data(), 32))
        return false;
    std::copy(publicKey.begin(), publicKey.end(), secretKey.begin() + 32);
    return true;
}

bool Blake2b(ByteView message, std::span<uint8_t> out) {
    switch (out.size()) {
        case 20: return Digest(GCRY_MD_BLAKE2B_160, message, out);
        case 32: return Digest(GCRY_MD_BLAKE2B_256, message, out);
        case 48: return Digest(GCRY_MD_BLAKE2B_384, message, out);
        case 64: return Digest(GCRY_MD_BLAKE2B_512, message, out);
        default: return false;
    }
}

bool RandomBytes(std::span<uint8_t> out) {
    if (!Ready()) return false;
    gcry_randomize(out.data(), out.size(), GCRY_STRONG_RANDOM);
    return true;
}

struct Sha256::State {
    gcry_md_hd_t md = nullptr;
    ~State() { gcry_md_close(md); }
};

Sha256::Sha256() : m_state(std::make_unique<State>()) {
    if (Ready() && gcry_md_open(&m_state->md, GCRY_MD_SHA256, 0) != 0) m_state->md = nullptr;
}
Sha256::~Sha256() = default;

void Sha256::Update(ByteView data) {
    if (m_state->md != nullptr) gcry_md_write(m_state->md, data.data(), data.size());
}

std::string Sha256::FinalHex() {
    if (m_state->md == nullptr) return {};
    const unsigned char* digest = gcry_md_read(m_state->md, GCRY_MD_SHA256);
    if (digest == nullptr) return {};
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (int i = 0; i < 32; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 15];
    }
    gcry_md_close(m_state->md);
    m_state->md = nullptr;
    return hex;
}

}  // namespace trust::crypto
