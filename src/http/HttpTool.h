// Thin checked wrappers over the transport and file calls: every failure becomes an
// httpclientexceptionW (or A) with the table code and the system error.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "http/HttpException.h"
#include "platform/fs.h"
#include "platform/inet.h"

namespace Kaver {

using platform::inet::HINTERNET;

inline constexpr unsigned CP_ACP = 0;
inline constexpr unsigned CP_UTF7 = 65000;
inline constexpr unsigned CP_UTF8 = 65001;

inline bool IsUtfCodePage(unsigned nCodePage) { return nCodePage == CP_UTF8 || nCodePage == CP_UTF7; }

// Overflow-checked arithmetic on sizes (error 112 on overflow).
template <class T>
T SafeAdd(T a, T b) {
    T r;
    if (__builtin_add_overflow(a, b, &r)) ThrowHttpErrorW(HTTPCLIENT_ERR_ARITHMETIC_OVERFLOW);
    return r;
}
template <class T>
T SafeMul(T a, T b) {
    T r;
    if (__builtin_mul_overflow(a, b, &r)) ThrowHttpErrorW(HTTPCLIENT_ERR_ARITHMETIC_OVERFLOW);
    return r;
}
template <class T>
T SafeSub(T a, T b) {
    T r;
    if (__builtin_sub_overflow(a, b, &r)) ThrowHttpErrorW(HTTPCLIENT_ERR_ARITHMETIC_OVERFLOW);
    return r;
}
template <class To, class From>
To SafeCast(From v) {
    if (!std::in_range<To>(v)) ThrowHttpErrorW(HTTPCLIENT_ERR_ARITHMETIC_OVERFLOW);
    return static_cast<To>(v);
}

// Wide text in an ANSI code page; characters the page cannot hold become '?', as the system
// conversion does. nullopt only when the code page itself is unknown.
std::optional<std::string> WideToAnsi(unsigned nCodePage, std::wstring_view szText);

class CHttpToolA {
public:
    static HINTERNET OpenRequest(HINTERNET hConnection, const char* szVerb, const char* szObjectName, uint32_t nFlags);
    static void AddHeader(HINTERNET hRequest, const char* szName, const char* szValue);
};

class CHttpToolW {
public:
    static HINTERNET OpenConnection(const wchar_t* szServerAddr, HINTERNET hInternet, uint16_t nPort);
    static HINTERNET OpenRequest(const wchar_t* szObjectName, unsigned nCodePage, HINTERNET hConnection,
                                 const wchar_t* szVerb, uint32_t nFlags);
    static void AddHeader(HINTERNET hRequest, unsigned nCodePage, const wchar_t* szName, const wchar_t* szValue);
    static void SendRequest(unsigned nCodePage, HINTERNET hRequest);
    static void SendRequestEx(HINTERNET hRequest, uint32_t nTotalBytes);
    static void InternetWriteFile(HINTERNET hRequest, const uint8_t* pbyBuff, uint32_t cbyBuff);
    static void EndRequest(HINTERNET hRequest);
    static void CloseRequest(HINTERNET hRequest) noexcept;

    // Null text gives nullopt.
    static std::optional<std::string> Unicode2Ansi(unsigned nCodePage, const wchar_t* szText);
    static std::optional<std::wstring> Ansi2Unicode(const char* szText);

    // A file opened for reading; not open when it could not be (603 instead when bStrict).
    static platform::File OpenFile(const wchar_t* szFilePath, bool bStrict = false);
    static uint32_t GetFileSize(platform::File* hFile, const wchar_t* szFilePath);
    // The MIME type of the file's first bytes; "application/octet-stream" for a file that is not open.
    static std::string GetMimeType(unsigned nCodePage, platform::File* hFile);
};

}  // namespace Kaver
