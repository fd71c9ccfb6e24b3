#include "trust/Minisign.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace trust {

namespace {

constexpr std::string_view kUntrusted = "untrusted comment: ";
constexpr std::string_view kTrusted = "trusted comment: ";

void SetWhy(std::string* pWhy, std::string why) {
    if (pWhy != nullptr) *pWhy = std::move(why);
}

// Lines without their end (LF or CRLF); a last line without an end counts.
std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        if (nl == std::string_view::npos) break;
        text.remove_prefix(nl + 1);
    }
    return lines;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

bool StartsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

template <size_t N>
void Copy(std::array<uint8_t, N>& to, const uint8_t* from) {
    std::memcpy(to.data(), from, N);
}

}  // namespace

std::string KeyIdText(const KeyId& id) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = id.size(); i-- > 0;) {
        out += kHex[id[i] >> 4];
        out += kHex[id[i] & 15];
    }
    return out;
}

std::optional<PublicKey> ParsePublicKey(std::string_view text, std::string* pWhy) {
    if (!crypto::Available()) {
        SetWhy(pWhy, "this build cannot check signatures");
        return std::nullopt;
    }
    std::string_view line;
    for (std::string_view l : SplitLines(text)) {
        l = Trim(l);
        if (l.empty() || StartsWith(l, kUntrusted)) continue;
        if (!line.empty()) {
            SetWhy(pWhy, "more than one key line");
            return std::nullopt;
        }
        line = l;
    }
    const auto bytes = crypto::Base64Decode(line);
    if (!bytes || bytes->size() != 2 + 8 + crypto::kPublicKeyBytes) {
        SetWhy(pWhy, "not a public key (base64 of 42 bytes expected)");
        return std::nullopt;
    }
    if ((*bytes)[0] != 'E' || (*bytes)[1] != 'd') {
        SetWhy(pWhy, "not an Ed25519 public key");
        return std::nullopt;
    }
    PublicKey key;
    Copy(key.id, bytes->data() + 2);
    Copy(key.key, bytes->data() + 10);
    return key;
}

std::string PublicKeyLine(const PublicKey& key) {
    crypto::Bytes bytes{'E', 'd'};
    bytes.insert(bytes.end(), key.id.begin(), key.id.end());
    bytes.insert(bytes.end(), key.key.begin(), key.key.end());
    return crypto::Base64Encode(bytes);
}

std::string FormatPublicKeyFile(const PublicKey& key) {
    return std::string(kUntrusted) + "minisign public key " + KeyIdText(key.id) + "\n" + PublicKeyLine(key) + "\n";
}

// Secret key layout: signature algorithm "Ed", key derivation algorithm (two zero bytes when
// the key is not encrypted), checksum algorithm "B2", 32 bytes of salt, two 8-byte limits, then
// key id, secret key and a BLAKE2b-256 checksum of algorithm, key id and secret key.
namespace {
constexpr size_t kSecretHead = 2 + 2 + 2 + 32 + 8 + 8;
constexpr size_t kSecretBytes = kSecretHead + 8 + crypto::kSecretKeyBytes + 32;

std::array<uint8_t, 32> SecretChecksum(const SecretKey& key) {
    crypto::Bytes data{'E', 'd'};
    data.insert(data.end(), key.id.begin(), key.id.end());
    data.insert(data.end(), key.key.begin(), key.key.end());
    std::array<uint8_t, 32> sum{};
    crypto::Blake2b(data, sum);
    return sum;
}
}  // namespace

std::optional<SecretKey> ParseSecretKeyFile(std::string_view text, std::string* pWhy) {
    if (!crypto::Available()) {
        SetWhy(pWhy, "this build has no cryptography");
        return std::nullopt;
    }
    std::string_view line;
    for (std::string_view l : SplitLines(text)) {
        l = Trim(l);
        if (l.empty() || StartsWith(l, kUntrusted)) continue;
        line = l;
        break;
    }
    const auto bytes = crypto::Base64Decode(line);
    if (!bytes || bytes->size() != kSecretBytes) {
        SetWhy(pWhy, "not a secret key file");
        return std::nullopt;
    }
    const uint8_t* b = bytes->data();
    if (b[0] != 'E' || b[1] != 'd' || b[4] != 'B' || b[5] != '2') {
        SetWhy(pWhy, "not an Ed25519 secret key");
        return std::nullopt;
    }
    if (b[2] != 0 || b[3] != 0) {
        SetWhy(pWhy, "the secret key is protected by a password, which this tool does not read "
                     "(make one with 'orvo-publish keygen' or 'minisign -G -W')");
        return std::nullopt;
    }
    SecretKey key;
    Copy(key.id, b + kSecretHead);
    Copy(key.key, b + kSecretHead + 8);
    // Keys written without a password may carry no checksum (all zero).
    const uint8_t* stored = b + kSecretHead + 8 + crypto::kSecretKeyBytes;
    const auto sum = SecretChecksum(key);
    const bool noChecksum = std::all_of(stored, stored + sum.size(), [](uint8_t x) { return x == 0; });
    if (!noChecksum && std::memcmp(sum.data(), stored, sum.size()) != 0) {
        SetWhy(pWhy, "the secret key's checksum is wrong (damaged file)");
        return std::nullopt;
    }
    return key;
}

std::string FormatSecretKeyFile(const SecretKey& key) {
    crypto::Bytes bytes(kSecretBytes, 0);
    bytes[0] = 'E';
    bytes[1] = 'd';
    bytes[4] = 'B';
    bytes[5] = '2';
    std::copy(key.id.begin(), key.id.end(), bytes.begin() + kSecretHead);
    std::copy(key.key.begin(), key.key.end(), bytes.begin() + kSecretHead + 8);
    const auto sum = SecretChecksum(key);
    std::copy(sum.begin(), sum.end(), bytes.begin() + kSecretHead + 8 + crypto::kSecretKeyBytes);
    return std::string(kUntrusted) + "minisign secret key " + KeyIdText(key.id) + "\n" + crypto::Base64Encode(bytes) + "\n";
}

std::optional<std::pair<PublicKey, SecretKey>> GenerateKeyPair() {
    PublicKey pub;
    SecretKey sec;
    if (!crypto::Ed25519KeyPair(pub.key, sec.key) || !crypto::RandomBytes(pub.id)) return std::nullopt;
    sec.id = pub.id;
    return std::pair{pub, sec};
}

std::optional<Signature> ParseSignatureFile(std::string_view text, std::string* pWhy) {
    if (!crypto::Available()) {
        SetWhy(pWhy, "this build cannot check signatures");
        return std::nullopt;
    }
    auto lines = SplitLines(text);
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    if (lines.size() != 4 || !StartsWith(lines[0], kUntrusted) || !StartsWith(lines[2], kTrusted)) {
        SetWhy(pWhy, "not a signature file (four lines with an untrusted and a trusted comment expected)");
        return std::nullopt;
    }
    const auto sig = crypto::Base64Decode(Trim(lines[1]));
    const auto global = crypto::Base64Decode(Trim(lines[3]));
    if (!sig || sig->size() != 2 + 8 + crypto::kSignatureBytes || !global || global->size() != crypto::kSignatureBytes) {
        SetWhy(pWhy, "malformed signature lines");
        return std::nullopt;
    }
    Signature out;
    const uint8_t* b = sig->data();
    if (b[0] == 'E' && b[1] == 'D')
        out.prehashed = true;
    else if (b[0] == 'E' && b[1] == 'd')
        out.prehashed = false;
    else {
        SetWhy(pWhy, "unknown signature algorithm");
        return std::nullopt;
    }
    Copy(out.id, b + 2);
    Copy(out.sig, b + 10);
    out.trustedComment = std::string(lines[2].substr(kTrusted.size()));
    Copy(out.globalSig, global->data());
    return out;
}

std::string FormatSignatureFile(const Signature& sig) {
    crypto::Bytes bytes{'E', static_cast<uint8_t>(sig.prehashed ? 'D' : 'd')};
    bytes.insert(bytes.end(), sig.id.begin(), sig.id.end());
    bytes.insert(bytes.end(), sig.sig.begin(), sig.sig.end());
    return std::string(kUntrusted) + "signature from orvo-publish secret key\n" + crypto::Base64Encode(bytes) + "\n" +
           std::string(kTrusted) + sig.trustedComment + "\n" + crypto::Base64Encode(sig.globalSig) + "\n";
}

namespace {
crypto::Bytes GlobalMessage(const Signature& sig) {
    crypto::Bytes m(sig.sig.begin(), sig.sig.end());
    m.insert(m.end(), sig.trustedComment.begin(), sig.trustedComment.end());
    return m;
}
}  // namespace

std::optional<Signature> Sign(crypto::ByteView data, const SecretKey& key, const std::string& trustedComment) {
    if (trustedComment.find_first_of("\r\n") != std::string::npos) return std::nullopt;
    std::array<uint8_t, 64> hash{};
    if (!crypto::Blake2b(data, hash)) return std::nullopt;
    Signature sig;
    sig.prehashed = true;
    sig.id = key.id;
    sig.trustedComment = trustedComment;
    if (!crypto::Ed25519Sign(hash, key.key, sig.sig)) return std::nullopt;
    if (!crypto::Ed25519Sign(GlobalMessage(sig), key.key, sig.globalSig)) return std::nullopt;
    return sig;
}

bool Verify(crypto::ByteView data, const Signature& sig, const PublicKey& key, std::string* pWhy) {
    if (sig.id != key.id) {
        SetWhy(pWhy, "signed by key " + KeyIdText(sig.id) + ", not by key " + KeyIdText(key.id));
        return false;
    }
    bool good;
    if (sig.prehashed) {
        std::array<uint8_t, 64> hash{};
        good = crypto::Blake2b(data, hash) && crypto::Ed25519Verify(sig.sig, hash, key.key);
    } else {
        good = crypto::Ed25519Verify(sig.sig, data, key.key);
    }
    if (!good) {
        SetWhy(pWhy, "the signature does not match the data (changed or forged)");
        return false;
    }
    if (!crypto::Ed25519Verify(sig.globalSig, GlobalMessage(sig), key.key)) {
        SetWhy(pWhy, "the signature of the trusted comment does not match (changed or forged)");
        return false;
    }
    return true;
}

}  // namespace trust
