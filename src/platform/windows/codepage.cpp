#include "platform/codepage.h"

#include <windows.h>

#include "platform/strings.h"

namespace platform {

// UTF-8 goes through the portable conversions so that both backends treat malformed text alike.

std::optional<std::wstring> MultiByteToWide(unsigned nCodePage, std::string_view szText) {
    if (nCodePage == CP_UTF8) {
        if (!IsValidUtf8(szText)) return std::nullopt;
        return FromUtf8(szText);
    }
    if (!::IsValidCodePage(nCodePage) && nCodePage != CP_ACP && nCodePage != CP_OEMCP) return std::nullopt;
    if (szText.empty()) return std::wstring();
    const int inLen = static_cast<int>(szText.size());
    DWORD flags = MB_ERR_INVALID_CHARS;
    int n = ::MultiByteToWideChar(nCodePage, flags, szText.data(), inLen, nullptr, 0);
    if (n == 0 && ::GetLastError() == ERROR_INVALID_FLAGS) {
        flags = 0;  // some pages take no flags
        n = ::MultiByteToWideChar(nCodePage, flags, szText.data(), inLen, nullptr, 0);
    }
    if (n <= 0) return std::nullopt;
    std::wstring out(static_cast<size_t>(n), L'\0');
    if (::MultiByteToWideChar(nCodePage, flags, szText.data(), inLen, out.data(), n) != n) return std::nullopt;
    return out;
}

std::optional<std::string> WideToMultiByte(unsigned nCodePage, std::wstring_view szText) {
    if (nCodePage == CP_UTF8) return ToUtf8(szText);
    if (!::IsValidCodePage(nCodePage) && nCodePage != CP_ACP && nCodePage != CP_OEMCP) return std::nullopt;
    if (szText.empty()) return std::string();
    const int inLen = static_cast<int>(szText.size());
    // No best-fit mapping and no default character: text the page cannot hold is refused.
    DWORD flags = WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    int n = ::WideCharToMultiByte(nCodePage, flags, szText.data(), inLen, nullptr, 0, nullptr, &usedDefault);
    if (n == 0 && ::GetLastError() == ERROR_INVALID_FLAGS) {
        flags = 0;
        n = ::WideCharToMultiByte(nCodePage, flags, szText.data(), inLen, nullptr, 0, nullptr, nullptr);
        usedDefault = FALSE;
    }
    if (n <= 0 || usedDefault) return std::nullopt;
    std::string out(static_cast<size_t>(n), '\0');
    if (::WideCharToMultiByte(nCodePage, flags, szText.data(), inLen, out.data(), n, nullptr,
                              flags != 0 ? &usedDefault : nullptr) != n ||
        usedDefault)
        return std::nullopt;
    return out;
}

}  // namespace platform
