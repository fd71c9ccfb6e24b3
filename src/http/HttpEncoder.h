// Wide text to ANSI (a code page), to UTF-8 and to URL-encoded form. Lengths are in bytes
// (narrow) or characters (wide) without the terminator; buffers must hold one more.
#pragma once

#include <cstddef>
#include <string>

namespace Kaver {

class CHttpEncoderW {
public:
    static size_t AnsiEncodeLen(unsigned nCodePage, const wchar_t* szStr);
    static char* AnsiEncode(unsigned nCodePage, const wchar_t* szStr, char* szBuff);
    static size_t Utf8EncodeLen(const wchar_t* szStr);
    static char* Utf8Encode(const wchar_t* szStr, char* szBuff);
    // Space becomes '+', ASCII letters and digits stay, every other byte is %XX.
    static size_t UrlEncodeLen(const wchar_t* szStr, bool bUtf8Encoding, unsigned nCodePage);
    static char* UrlEncodeA(char* szBuff, const wchar_t* szStr, bool bUtf8Encoding, unsigned nCodePage);
    static wchar_t* UrlEncodeW(const wchar_t* szStr, wchar_t* szBuff, bool bUtf8Encoding, unsigned nCodePage);

    // The same results as strings.
    static std::string AnsiEncode(unsigned nCodePage, const wchar_t* szStr);
    static std::string Utf8Encode(const wchar_t* szStr);
    static std::string UrlEncode(const wchar_t* szStr, bool bUtf8Encoding, unsigned nCodePage);
};

// Counts the URL-encoded length of bytes.
size_t _UrlEncodeLen(const char* szStr);

}  // namespace Kaver
