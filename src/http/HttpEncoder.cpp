#include "http/HttpEncoder.h"

#include <cstring>

#include "http/HttpTool.h"
#include "platform/strings.h"

namespace Kaver {

namespace {

bool IsUnreserved(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// One character alone in the chosen encoding; characters are converted one at a time.
std::string EncodeChar(wchar_t c, bool bUtf8, unsigned nCodePage) {
    const std::wstring_view one(&c, 1);
    if (bUtf8) return platform::ToUtf8(one);
    auto s = WideToAnsi(nCodePage, one);
    if (!s) ThrowHttpErrorW(HTTPCLIENT_ERR_WIDECHARTOMULTIBYTE_FAILED, platform::inet::ERROR_INVALID_PARAMETER_);
    return *s;
}

void CheckCodePage(unsigned nCodePage, const wchar_t* szMessage) {
    if (IsUtfCodePage(nCodePage)) ThrowArgumentErrorW(szMessage);
}

}  // namespace

size_t _UrlEncodeLen(const char* szStr) {
    if (szStr == nullptr) ThrowArgumentErrorW(L"_UrlEncodeLen: szStr can not be NULL.");
    size_t n = 0;
    for (; *szStr != '\0'; ++szStr) {
        const auto c = static_cast<unsigned char>(*szStr);
        n = SafeAdd<size_t>(n, c == ' ' || IsUnreserved(c) ? 1 : 3);
    }
    return n;
}

std::string CHttpEncoderW::AnsiEncode(unsigned nCodePage, const wchar_t* szStr) {
    CheckCodePage(nCodePage, L"CHttpEncoderW::AnsiEncode: CP_UTF8 and CP_UTF7 can not be used for the CodePage parameter.");
    if (szStr == nullptr || *szStr == L'\0') return {};
    auto s = WideToAnsi(nCodePage, szStr);
    if (!s) ThrowHttpErrorW(HTTPCLIENT_ERR_WIDECHARTOMULTIBYTE_FAILED, platform::inet::ERROR_INVALID_PARAMETER_);
    return *s;
}

size_t CHttpEncoderW::AnsiEncodeLen(unsigned nCodePage, const wchar_t* szStr) {
    CheckCodePage(nCodePage, L"CHttpEncoderW::AnsiEncodeLen: CP_UTF8 and CP_UTF7 can not be used for the CodePage parameter.");
    return AnsiEncode(nCodePage, szStr).size();
}

char* CHttpEncoderW::AnsiEncode(unsigned nCodePage, const wchar_t* szStr, char* szBuff) {
    CheckCodePage(nCodePage, L"CHttpEncoderW::AnsiEncode: CP_UTF8 and CP_UTF7 can not be used for the CodePage parameter.");
    if (szBuff == nullptr) ThrowArgumentErrorW(L"CHttpEncoderW::AnsiEncode: szBuff can not be NULL.");
    const std::string s = AnsiEncode(nCodePage, szStr);
    std::memcpy(szBuff, s.c_str(), s.size() + 1);
    return szBuff;
}

std::string CHttpEncoderW::Utf8Encode(const wchar_t* szStr) {
    if (szStr == nullptr) return {};
    return platform::ToUtf8(szStr);
}

size_t CHttpEncoderW::Utf8EncodeLen(const wchar_t* szStr) { return Utf8Encode(szStr).size(); }

char* CHttpEncoderW::Utf8Encode(const wchar_t* szStr, char* szBuff) {
    if (szBuff == nullptr) ThrowArgumentErrorW(L"CHttpEncoderW::Utf8Encode: szBuff can not be NULL.");
    const std::string s = Utf8Encode(szStr);
    std::memcpy(szBuff, s.c_str(), s.size() + 1);
    return szBuff;
}

std::string CHttpEncoderW::UrlEncode(const wchar_t* szStr, bool bUtf8Encoding, unsigned nCodePage) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    if (szStr == nullptr) return out;
    for (; *szStr != L'\0'; ++szStr) {
        for (unsigned char c : EncodeChar(*szStr, bUtf8Encoding, nCodePage)) {
            if (c == ' ') {
                out += '+';
            } else if (IsUnreserved(c)) {
                out += static_cast<char>(c);
            } else {
                out += '%';
                out += hex[c >> 4];
                out += hex[c & 15];
            }
        }
    }
    return out;
}

size_t CHttpEncoderW::UrlEncodeLen(const wchar_t* szStr, bool bUtf8Encoding, unsigned nCodePage) {
    if (szStr == nullptr) return 0;
    size_t n = 0;
    for (; *szStr != L'\0'; ++szStr)
        n = SafeAdd(n, _UrlEncodeLen(EncodeChar(*szStr, bUtf8Encoding, nCodePage).c_str()));
    return n;
}

char* CHttpEncoderW::UrlEncodeA(char* szBuff, const wchar_t* szStr, bool bUtf8Encoding, unsigned nCodePage) {
    if (szBuff == nullptr) ThrowArgumentErrorW(L"CHttpEncoderW::UrlEncodeA: szBuff can not be NULL.");
    const std::string s = UrlEncode(szStr, bUtf8Encoding, nCodePage);
    std::memcpy(szBuff, s.c_str(), s.size() + 1);
    return szBuff;
}

wchar_t* CHttpEncoderW::UrlEncodeW(const wchar_t* szStr, wchar_t* szBuff, bool bUtf8Encoding, unsigned nCodePage) {
    if (szBuff == nullptr) ThrowArgumentErrorW(L"CHttpEncoderW::UrlEncodeW: szBuff can not be NULL.");
    const std::string s = UrlEncode(szStr, bUtf8Encoding, nCodePage);
    for (size_t i = 0; i < s.size(); ++i) szBuff[i] = static_cast<unsigned char>(s[i]);
    szBuff[s.size()] = L'\0';
    return szBuff;
}

}  // namespace Kaver
