// Wide text and printf-style formatting shared by every subsystem.
// Both backends: FormatW takes the formats as written for the updater ("%s" is a wide string,
// "%c" a wide character); std::wstring arguments may be passed directly. wchar_t is UTF-32 on
// Linux and UTF-16 on Windows; the UTF-8 conversions handle both.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

namespace platform {

namespace detail {
std::wstring FormatWImpl(const wchar_t* szFormat, ...);

template <class T>
decltype(auto) FormatArg(const T& value) {
    if constexpr (std::is_same_v<T, std::wstring>) {
        return value.c_str();
    } else if constexpr (std::is_same_v<T, std::wstring_view>) {
        static_assert(!sizeof(T), "pass a std::wstring or const wchar_t* to FormatW");
        return value;
    } else {
        return value;
    }
}
}  // namespace detail

// printf-style formatting into a wide string; "%s" takes a wide string as on Windows.
template <class... Args>
std::wstring FormatW(const wchar_t* szFormat, const Args&... args) {
    return detail::FormatWImpl(szFormat, detail::FormatArg(args)...);
}

// Rewrites a format so that "%s"/"%c" without a size prefix take wide arguments under the C
// library's rules ("%ls"/"%lc"); exposed for tests.
std::wstring WidenFormat(std::wstring_view fmt);

std::string ToUtf8(std::wstring_view text);
// Invalid sequences become U+FFFD.
std::wstring FromUtf8(std::string_view text);
// nullopt when the bytes are not well-formed UTF-8 (one pass, for large texts).
std::optional<std::wstring> FromUtf8Strict(std::string_view text);
// FromUtf8Strict appended to out, without a temporary text; false (out as it was) when the
// bytes are not well-formed UTF-8.
bool AppendFromUtf8Strict(std::string_view text, std::wstring& out);
// FromUtf8Strict written to dest, which has room for text.size() wide units (never more are
// needed); the number written, or std::string_view::npos when the bytes are not UTF-8.
size_t DecodeUtf8StrictTo(std::string_view text, wchar_t* dest);
// True when the bytes are well-formed UTF-8.
bool IsValidUtf8(std::string_view text);

// Case-insensitive comparison, as the Windows string class's CompareNoCase does (simple case
// folding of each character).
int CompareNoCase(std::wstring_view a, std::wstring_view b);
bool EqualsNoCase(std::wstring_view a, std::wstring_view b);
wchar_t FoldCase(wchar_t c);
std::wstring ToLower(std::wstring_view text);

// Removes every character of szChars from the left/right end, like the string class's TrimLeft/TrimRight.
std::wstring TrimLeft(std::wstring_view text, std::wstring_view szChars);
std::wstring TrimRight(std::wstring_view text, std::wstring_view szChars);

// Replaces every non-overlapping occurrence, left to right; the inserted text is not searched again.
// Returns the number of replacements.
int ReplaceAll(std::wstring& text, std::wstring_view szOld, std::wstring_view szNew);

// A 64-bit FNV-1a hash: stable names for things named by long texts (never a security check).
uint64_t Fnv1a64(std::string_view text);

}  // namespace platform
