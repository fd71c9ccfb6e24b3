// A build without the cryptography library: nothing can be checked, so nothing passes.
#include "trust/Crypto.h"

namespace trust::crypto {

bool Available() { return false; }
bool Ed25519Verify(ByteView, ByteView, ByteView) { return false; }
bool Ed25519Sign(ByteView, ByteView, std::array<uint8_t, kSignatureBytes>&) { return false; }
bool Ed25519KeyPair(std::array<uint8_t, kPublicKeyBytes>&, std::array<uint8_t, kSecretKeyBytes>&) { return false; }
bool Blake2b(ByteView, std::span<uint8_t>) { return false; }
bool RandomBytes(std::span<uint8_t>) { return false; }

struct Sha256::State {};
Sha256::Sha256() = default;
Sha256::~Sha256() = default;
void Sha256::Update(ByteView) {}
std::string Sha256::FinalHex() { return {}; }

}  // namespace trust::crypto
