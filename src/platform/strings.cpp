#include "platform/strings.h"

#include <cstdarg>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <vector>

namespace platform {

std::wstring WidenFormat(std::wstring_view fmt) {
    std::wstring out;
    out.reserve(fmt.size() + 8);
    for (size_t i = 0; i < fmt.size(); ++i) {
        out += fmt[i];
        if (fmt[i] != L'%') continue;
        if (i + 1 < fmt.size() && fmt[i + 1] == L'%') {
            out += fmt[++i];
            continue;
        }
        // flags, width, precision
        size_t j = i + 1;
        while (j < fmt.size() && std::wcschr(L"-+ #0123456789.*'", fmt[j]) != nullptr) ++j;
        bool sized = j < fmt.size() && std::wcschr(L"hlLqjzt", fmt[j]) != nullptr;
        if (!sized && j < fmt.size() && (fmt[j] == L's' || fmt[j] == L'c')) {
            out.append(fmt.substr(i + 1, j - i - 1));
            out += L'l';
            out += fmt[j];
            i = j;
        }
    }
    return out;
}

namespace detail {
std::wstring FormatWImpl(const wchar_t* szFormat, ...) {
    if (szFormat == nullptr) return {};
    const std::wstring fmt = WidenFormat(szFormat);
    std::vector<wchar_t> buf(256);
    for (;;) {
        va_list args;
        va_start(args, szFormat);
        int n = std::vswprintf(buf.data(), buf.size(), fmt.c_str(), args);
        va_end(args);
        if (n >= 0 && static_cast<size_t>(n) < buf.size()) return std::wstring(buf.data(), static_cast<size_t>(n));
        // vswprintf reports truncation only as failure; grow and retry up to a sane bound.
        if (buf.size() >= (1u << 24)) return std::wstring(buf.data());
        buf.resize(buf.size() * 4);
    }
}
}  // namespace detail

static void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string ToUtf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t cp = static_cast<uint32_t>(text[i]);
        if constexpr (sizeof(wchar_t) == 2) {
            if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size()) {
                uint32_t lo = static_cast<uint32_t>(text[i + 1]);
                if (lo >= 0xDC00 && lo <= 0xDFFF) {
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                    ++i;
                }
            }
        }
        if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = 0xFFFD;
        AppendUtf8(out, cp);
    }
    return out;
}

// Decodes one sequence at text[i]; returns its length, or 0 when it is malformed.
static size_t DecodeUtf8(std::string_view text, size_t i, uint32_t& cp) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    size_t len;
    uint32_t min;
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    } else if ((b0 & 0xE0) == 0xC0) {
        len = 2, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + len > text.size()) return 0;
    for (size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(text[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

// Decodes into dest, which has room for text.size() wide units; ASCII runs go without the
// decoder. Malformed sequences become U+FFFD, or end the decoding with npos when bStrict.
// Returns the number of units written.
static size_t DecodeUtf8To(std::string_view text, wchar_t* dest, bool bStrict) {
    wchar_t* const first = dest;
    const auto* src = reinterpret_cast<const unsigned char*>(text.data());
    for (size_t i = 0; i < text.size();) {
        // Eight ASCII bytes at a time.
        while (i + 8 <= text.size()) {
            uint64_t word;
            std::memcpy(&word, src + i, sizeof word);
            if ((word & 0x8080808080808080ull) != 0) break;
            for (size_t k = 0; k < 8; ++k) dest[k] = static_cast<wchar_t>(src[i + k]);
            dest += 8;
            i += 8;
        }
        if (i >= text.size()) break;
        const auto b0 = src[i];
        if (b0 < 0x80) {
            *dest++ = static_cast<wchar_t>(b0);
            ++i;
            continue;
        }
        uint32_t cp = 0;
        size_t len = DecodeUtf8(text, i, cp);
        if (len == 0) {
            if (bStrict) return std::string_view::npos;
            cp = 0xFFFD;
            len = 1;
        }
        i += len;
        if constexpr (sizeof(wchar_t) == 2) {
            if (cp >= 0x10000) {
                cp -= 0x10000;
                *dest++ = static_cast<wchar_t>(0xD800 + (cp >> 10));
                *dest++ = static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
                continue;
            }
        }
        *dest++ = static_cast<wchar_t>(cp);
    }
    return static_cast<size_t>(dest - first);
}

// Appends the decoding to out (see DecodeUtf8To); false, with out as it was, when bStrict
// refuses the bytes.
static bool DecodeUtf8Into(std::string_view text, std::wstring& out, bool bStrict) {
    const size_t start = out.size();
    out.resize(start + text.size());
    const size_t n = DecodeUtf8To(text, out.data() + start, bStrict);
    if (n == std::string_view::npos) {
        out.resize(start);
        return false;
    }
    out.resize(start + n);
    return true;
}

std::wstring FromUtf8(std::string_view text) {
    std::wstring out;
    DecodeUtf8Into(text, out, false);
    return out;
}

std::optional<std::wstring> FromUtf8Strict(std::string_view text) {
    std::wstring out;
    if (!DecodeUtf8Into(text, out, true)) return std::nullopt;
    return out;
}

bool AppendFromUtf8Strict(std::string_view text, std::wstring& out) { return DecodeUtf8Into(text, out, true); }

size_t DecodeUtf8StrictTo(std::string_view text, wchar_t* dest) { return DecodeUtf8To(text, dest, true); }

bool IsValidUtf8(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        if (i + 8 <= text.size()) {
            uint64_t word;
            std::memcpy(&word, text.data() + i, sizeof word);
            if ((word & 0x8080808080808080ull) == 0) {
                i += 8;
                continue;
            }
        }
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;
            continue;
        }
        uint32_t cp = 0;
        size_t len = DecodeUtf8(text, i, cp);
        if (len == 0) return false;
        i += len;
    }
    return true;
}

wchar_t FoldCase(wchar_t c) {
    if (c < 0x80) return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
    return static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
}

int CompareNoCase(std::wstring_view a, std::wstring_view b) {
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        const wchar_t x = FoldCase(a[i]);
        const wchar_t y = FoldCase(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() && CompareNoCase(a, b) == 0;
}

std::wstring ToLower(std::wstring_view text) {
    std::wstring out(text);
    for (auto& c : out) c = FoldCase(c);
    return out;
}

std::wstring TrimLeft(std::wstring_view text, std::wstring_view szChars) {
    const size_t pos = text.find_first_not_of(szChars);
    return pos == std::wstring_view::npos ? std::wstring() : std::wstring(text.substr(pos));
}

std::wstring TrimRight(std::wstring_view text, std::wstring_view szChars) {
    const size_t pos = text.find_last_not_of(szChars);
    return pos == std::wstring_view::npos ? std::wstring() : std::wstring(text.substr(0, pos + 1));
}

int ReplaceAll(std::wstring& text, std::wstring_view szOld, std::wstring_view szNew) {
    if (szOld.empty()) return 0;
    int count = 0;
    std::wstring out;
    size_t from = 0;
    for (size_t pos; (pos = text.find(szOld, from)) != std::wstring::npos; from = pos + szOld.size()) {
        out.append(text, from, pos - from);
        out.append(szNew);
        ++count;
    }
    if (count == 0) return 0;
    out.append(text, from, std::wstring::npos);
    text.swap(out);
    return count;
}

uint64_t Fnv1a64(std::string_view text) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

}  // namespace platform
