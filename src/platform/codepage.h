// Code-page conversions (WideCharToMultiByte / MultiByteToWideChar and OEM to ANSI).
// Linux: iconv; CP_ACP is the locale's code set (UTF-8 under the plain C/POSIX locale) and
// CP_OEMCP is 437. Windows: MultiByteToWideChar/WideCharToMultiByte without best-fit mapping;
// CP_ACP and CP_OEMCP are the system's pages. Explicit pages (1252, 949, 437) by number on both;
// UTF-8 goes through the portable conversions on both.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

inline constexpr unsigned CP_ACP = 0;
inline constexpr unsigned CP_OEMCP = 1;
inline constexpr unsigned CP_UTF8 = 65001;

// nullopt when the code page is unknown or the bytes cannot be represented.
std::optional<std::wstring> MultiByteToWide(unsigned nCodePage, std::string_view szText);
std::optional<std::string> WideToMultiByte(unsigned nCodePage, std::wstring_view szText);

// The zip reader's OEM-to-ANSI step: bytes in the OEM page become text in the ANSI page.
std::string OemToAnsi(std::string_view szText);

}  // namespace platform
