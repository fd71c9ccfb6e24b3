#include "http/MimeSniffer.h"

#include <cctype>
#include <cstring>
#include <string_view>

namespace Kaver {

using namespace std::literals;

namespace {

bool StartsWith(const uint8_t* p, size_t n, std::string_view sig, size_t at = 0) {
    return n >= at + sig.size() && std::memcmp(p + at, sig.data(), sig.size()) == 0;
}

// Case-insensitive search for an HTML tag opening among the first bytes.
bool HasTag(std::string_view lower, std::string_view tag) {
    size_t pos = lower.find(tag);
    while (pos != std::string_view::npos) {
        const size_t end = pos + tag.size();
        if (end == lower.size() || lower[end] == '>' || lower[end] == ' ' || lower[end] == '\t' ||
            lower[end] == '\r' || lower[end] == '\n')
            return true;
        pos = lower.find(tag, pos + 1);
    }
    return false;
}

bool LooksLikeText(const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        const uint8_t c = p[i];
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != 0x1B) return false;
    }
    return true;
}

}  // namespace

std::string SniffMimeType(const uint8_t* p, size_t n) {
    if (p == nullptr || n == 0) return kFallbackMimeType;
    struct Signature {
        std::string_view bytes;
        size_t at;
        const char* type;
    };
    static const Signature kSignatures[] = {
        {"GIF87a"sv, 0, "image/gif"},
        {"GIF89a"sv, 0, "image/gif"},
        {"\xFF\xD8\xFF"sv, 0, "image/pjpeg"},
        {"\x89PNG\r\n\x1A\n"sv, 0, "image/x-png"},
        {"II*\0"sv, 0, "image/tiff"},
        {"MM\0*"sv, 0, "image/tiff"},
        {"PK\x03\x04"sv, 0, "application/x-zip-compressed"},
        {"PK\x05\x06"sv, 0, "application/x-zip-compressed"},
        {"\x1F\x8B"sv, 0, "application/x-gzip-compressed"},
        {"%PDF"sv, 0, "application/pdf"},
        {"%!"sv, 0, "application/postscript"},
        {"WAVE"sv, 8, "audio/wav"},
        {"AVI "sv, 8, "video/avi"},
        {"MZ"sv, 0, "application/x-msdownload"},
    };
    for (const auto& s : kSignatures) {
        // RIFF containers carry their kind after the size field.
        if (s.at == 8 && !StartsWith(p, n, "RIFF")) continue;
        if (StartsWith(p, n, s.bytes, s.at)) return s.type;
    }
    // A bitmap names itself and its file size in the header.
    if (StartsWith(p, n, "BM") && n >= 14) {
        const uint32_t offBits = p[10] | (p[11] << 8) | (p[12] << 16) | (static_cast<uint32_t>(p[13]) << 24);
        if (offBits >= 14 && offBits < (1u << 24)) return "image/bmp";
    }
    if (!LooksLikeText(p, n)) return kFallbackMimeType;
    std::string lower(reinterpret_cast<const char*>(p), n);
    for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string_view trimmed(lower);
    // A byte-order mark and leading blanks do not change the kind of text.
    if (trimmed.substr(0, 3) == "\xEF\xBB\xBF") trimmed.remove_prefix(3);
    while (!trimmed.empty() && std::isspace(static_cast<unsigned char>(trimmed.front()))) trimmed.remove_prefix(1);
    if (trimmed.substr(0, 5) == "<?xml") return "text/xml";
    for (std::string_view tag : {"<!doctype html", "<html", "<head", "<title", "<body", "<script", "<table", "<a href",
                                 "<h1", "<br", "<p", "<pre", "<!--"}) {
        if (HasTag(trimmed, tag) || (tag == "<a href" && trimmed.find(tag) != std::string_view::npos)) return "text/html";
    }
    return "text/plain";
}

}  // namespace Kaver
