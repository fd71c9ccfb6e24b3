#include "http/HttpException.h"

#include <new>

#include "platform/strings.h"

namespace Kaver {

namespace {

// Blocks of the table, indexed by the code's offset in its block.
template <class Char>
struct MessageTable {
    const Char* base[1];
    const Char* b100[15];
    const Char* b200[1];
    const Char* b400[11];
    const Char* b600[7];
    const Char* user;
    const Char* unknown;
};

#define ORVO_HTTP_MESSAGES(P)                                                                                      \
    {                                                                                                              \
        {P##"Not specified"},                                                                                      \
            {P##"Unexpected error occurred.", P##"The index is out of range.", P##"Out of memory.",                 \
             P##"The requested URL is not a valid URL.", P##"The post context is not started yet.",                 \
             P##"Couldn't read expected bytes from a file.", P##"The post context has not been finished yet.",      \
             P##"The port number is not valid.", P##"std::exception occurred.",                                     \
             P##"The encoded URL is not valid.", P##"The UTF8 string contains an invalid character.",               \
             P##"An unexpected arithmetic error has been occurred.",                                                \
             P##"An arithmetic overflow error has been occurred.",                                                  \
             P##"An interger divide by zero exception has been occurred.", P##"The file (%s) aleady exists."},      \
            {P##""},                                                                                               \
            {P##"::HttpQueryInfo failed.", P##"::InternetReadFile failed.", P##"::InternetOpen failed.",            \
             P##"::InternetConnect failed.", P##"::HttpOpenRequest failed.",                                        \
             P##"::HttpAddRequestHeaders failed.", P##"::HttpSendRequest failed.",                                  \
             P##"::HttpSendRequestEx failed.", P##"::InternetWriteFile failed.", P##"::HttpEndRequest failed.",     \
             P##"::InternetSetOption failed."},                                                                    \
            {P##"::WideCharToMultiByte failed.", P##"::MultiByteToWideChar failed.", P##"::ReadFile failed.",       \
             P##"OpenFile (::CreateFile) failed (\"%s\").", P##"::SetFilePointer failed.",                          \
             P##"::GetFileSize failed (\"%s\").", P##"::WriteFile failed (\"%s\")."},                               \
            P##"user-defined error message", P##"Not specified"                                                    \
    }


const MessageTable<char> g_tableA = ORVO_HTTP_MESSAGES();
const MessageTable<wchar_t> g_tableW = ORVO_HTTP_MESSAGES(L);

template <class Char, size_t N>
const Char* Pick(const Char* const (&block)[N], uint32_t nIndex, const Char* szUnknown) {
    return nIndex < N ? block[nIndex] : szUnknown;
}

template <class Char>
const Char* Lookup(const MessageTable<Char>& t, uint32_t n) {
    if (n >= 1000) return t.user;
    if (n >= 600) return Pick(t.b600, n % 100, t.unknown);
    if (n >= 400) return Pick(t.b400, n - 400, t.unknown);
    if (n >= 200) return Pick(t.b200, n - 200, t.unknown);
    if (n >= 100) return Pick(t.b100, n - 100, t.unknown);
    return Pick(t.base, n, t.unknown);
}

}  // namespace

const char* GetHttpErrorMessageA(uint32_t nErrorCode) { return Lookup(g_tableA, nErrorCode); }
const wchar_t* GetHttpErrorMessageW(uint32_t nErrorCode) { return Lookup(g_tableW, nErrorCode); }

std::wstring FormatHttpErrorMessageW(uint32_t nErrorCode, const wchar_t* szArg) {
    const wchar_t* szText = GetHttpErrorMessageW(nErrorCode);
    if (szArg == nullptr) return szText;
    std::wstring msg = platform::FormatW(szText, szArg);
    if (msg.empty() && *szText != L'\0') return szText;
    if (msg.size() > 511) msg.resize(511);
    return msg;
}

void errmsg_exceptionA::SetErrorMsg(const char* szErrMsg) {
    if (szErrMsg == nullptr)
        m_szErrMsg.reset();
    else
        m_szErrMsg = szErrMsg;
}

void errmsg_exceptionW::SetErrorMsg(const wchar_t* szErrMsg) {
    if (szErrMsg == nullptr)
        m_szErrMsg.reset();
    else
        m_szErrMsg = szErrMsg;
}

void ThrowArgumentErrorW(const wchar_t* szMessage) { throw httpclientexceptionW(szMessage, 0, 0); }
void ThrowArgumentErrorA(const char* szMessage) { throw httpclientexceptionA(szMessage, 0, 0); }

void ThrowHttpErrorW(uint32_t nErrorCode, uint32_t nSystemError, const wchar_t* szArg) {
    const std::wstring msg = FormatHttpErrorMessageW(nErrorCode, szArg);
    throw httpclientexceptionW(msg.c_str(), nErrorCode, nSystemError);
}

void RethrowAsHttpError() {
    try {
        throw;
    } catch (const httpclientexceptionW&) {
        throw;
    } catch (const std::bad_alloc&) {
        ThrowHttpErrorW(HTTPCLIENT_ERR_OUT_OF_MEMORY);
    } catch (...) {
        ThrowHttpErrorW(HTTPCLIENT_ERR_UNEXPECTED_ERROR);
    }
}

void ThrowHttpErrorA(uint32_t nErrorCode, uint32_t nSystemError) {
    throw httpclientexceptionA(GetHttpErrorMessageA(nErrorCode), nErrorCode, nSystemError);
}

}  // namespace Kaver
