// Base64 of the keys and signatures, strict: standard alphabet, padding required, no blanks and
// no stray bits, so that one text has one meaning with every crypto backend.
#include <array>

#include "trust/Crypto.h"

namespace trust::crypto {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<int8_t, 256> MakeValues() {
    std::array<int8_t, 256> v{};
    for (auto& x : v) x = -1;
    for (int i = 0; i < 64; ++i) v[static_cast<uint8_t>(kAlphabet[i])] = static_cast<int8_t>(i);
    return v;
}
constexpr auto kValues = MakeValues();

}  // namespace

std::optional<Bytes> Base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    size_t pad = 0;
    while (pad < 2 && pad < text.size() && text[text.size() - 1 - pad] == '=') ++pad;
    const std::string_view body = text.substr(0, text.size() - pad);
    Bytes out;
    out.reserve(body.size() * 3 / 4);
    uint32_t acc = 0;
    int bits = 0;
    for (const char c : body) {
        const int8_t v = kValues[static_cast<uint8_t>(c)];
        if (v < 0) return std::nullopt;
        acc = (acc << 6) | static_cast<uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<uint8_t>(acc >> bits));
            acc &= (1u << bits) - 1;
        }
    }
    // What is left must be the zero fill of the last group.
    if (acc != 0) return std::nullopt;
    return out;
}

std::string Base64Encode(ByteView bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const uint32_t n = (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
        for (int s = 18; s >= 0; s -= 6) out += kAlphabet[(n >> s) & 63];
    }
    if (const size_t rest = bytes.size() - i; rest > 0) {
        uint32_t n = uint32_t{bytes[i]} << 16;
        if (rest == 2) n |= uint32_t{bytes[i + 1]} << 8;
        out += kAlphabet[(n >> 18) & 63];
        out += kAlphabet[(n >> 12) & 63];
        out += rest == 2 ? kAlphabet[(n >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

}  // namespace trust::crypto
