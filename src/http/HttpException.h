// Exceptions of the HTTP client: a message, a numbered error code and the system error that
// came with it. The client reports every failure by throwing httpclientexceptionW.
#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>

namespace Kaver {

// Error codes of the message table (0 = argument error, message given by the operation).
enum : uint32_t {
    HTTPCLIENT_ERR_NOT_SPECIFIED = 0,
    HTTPCLIENT_ERR_UNEXPECTED_ERROR = 100,
    HTTPCLIENT_ERR_OUT_OF_RANGE = 101,
    HTTPCLIENT_ERR_OUT_OF_MEMORY = 102,
    HTTPCLIENT_ERR_INVALID_URL = 103,
    HTTPCLIENT_ERR_POST_NOT_STARTED = 104,
    HTTPCLIENT_ERR_READ_UNEXPECTED_SIZE = 105,
    HTTPCLIENT_ERR_POST_NOT_FINISHED = 106,
    HTTPCLIENT_ERR_INVALID_PORT = 107,
    HTTPCLIENT_ERR_STD_EXCEPTION = 108,
    HTTPCLIENT_ERR_ENCODED_URL_NOT_VALID = 109,
    HTTPCLIENT_ERR_INVALID_UTF8_CHARACTER = 110,
    HTTPCLIENT_ERR_UNEXPECTED_ARITHMETIC_ERROR = 111,
    HTTPCLIENT_ERR_ARITHMETIC_OVERFLOW = 112,
    HTTPCLIENT_ERR_INT_DIVIDE_BY_ZERO = 113,
    HTTPCLIENT_ERR_FILE_ALEADY_EXISTS = 114,
    HTTPCLIENT_ERR_USER = 200,
    HTTPCLIENT_ERR_QUERYINFO_FAILED = 400,
    HTTPCLIENT_ERR_INTERNETREADFILE_FAILED = 401,
    HTTPCLIENT_ERR_INTERNETOPEN_FAILED = 402,
    HTTPCLIENT_ERR_INTERNETCONNECT_FAILED = 403,
    HTTPCLIENT_ERR_HTTPOPENREQUEST_FAILED = 404,
    HTTPCLIENT_ERR_HTTPADDREQUESTHEADERS_FAILED = 405,
    HTTPCLIENT_ERR_HTTPSENDREQUEST_FAILED = 406,
    HTTPCLIENT_ERR_HTTPSENDREQUESTEX_FAILED = 407,
    HTTPCLIENT_ERR_INTERNETWRITEFILE_FAILED = 408,
    HTTPCLIENT_ERR_HTTPENDREQUEST_FAILED = 409,
    HTTPCLIENT_ERR_INTERNETSETOPTION_FAILED = 410,
    HTTPCLIENT_ERR_WIDECHARTOMULTIBYTE_FAILED = 600,
    HTTPCLIENT_ERR_MULTIBYTETOWIDECHAR_FAILED = 601,
    HTTPCLIENT_ERR_READFILE_FAILED = 602,
    HTTPCLIENT_ERR_OPENFILE_FAILED = 603,
    HTTPCLIENT_ERR_SETFILEPOINTER_FAILED = 604,
    HTTPCLIENT_ERR_GETFILESIZE_FAILED = 605,
    HTTPCLIENT_ERR_WRITEFILE_FAILED = 606,
};

// The table text of an error code (may hold one "%s" for a file path).
const char* GetHttpErrorMessageA(uint32_t nErrorCode);
const wchar_t* GetHttpErrorMessageW(uint32_t nErrorCode);
// The table text formatted with the argument, at most 511 characters.
std::wstring FormatHttpErrorMessageW(uint32_t nErrorCode, const wchar_t* szArg);

class errmsg_exceptionA : public std::exception {
public:
    errmsg_exceptionA() = default;
    explicit errmsg_exceptionA(const char* szErrMsg) { SetErrorMsg(szErrMsg); }
    errmsg_exceptionA(const errmsg_exceptionA&) = default;
    errmsg_exceptionA& operator=(const errmsg_exceptionA&) = default;
    ~errmsg_exceptionA() override = default;

    const char* what() const noexcept override { return GetErrorMsg(); }
    // The message, or "NULL" when there is none.
    virtual const char* GetErrorMsg() const noexcept { return m_szErrMsg ? m_szErrMsg->c_str() : "NULL"; }
    virtual void SetErrorMsg(const char* szErrMsg);

private:
    std::optional<std::string> m_szErrMsg;
};

class errmsg_exceptionW : public std::exception {
public:
    errmsg_exceptionW() = default;
    explicit errmsg_exceptionW(const wchar_t* szErrMsg) { SetErrorMsg(szErrMsg); }
    errmsg_exceptionW(const errmsg_exceptionW&) = default;
    errmsg_exceptionW& operator=(const errmsg_exceptionW&) = default;
    ~errmsg_exceptionW() override = default;

    const char* what() const noexcept override { return "errmsg_exceptionW"; }
    virtual const wchar_t* GetErrorMsg() const noexcept { return m_szErrMsg ? m_szErrMsg->c_str() : L"NULL"; }
    virtual void SetErrorMsg(const wchar_t* szErrMsg);

private:
    std::optional<std::wstring> m_szErrMsg;
};

class httpclientexceptionA : public errmsg_exceptionA {
public:
    httpclientexceptionA() = default;
    explicit httpclientexceptionA(const char* szErrMsg, uint32_t nErrorCode = 0, uint32_t nSystemError = 0)
        : errmsg_exceptionA(szErrMsg), m_nErrorCode(nErrorCode), m_nSystemError(nSystemError) {}

    uint32_t GetErrorCode() const noexcept { return m_nErrorCode; }
    uint32_t GetSystemError() const noexcept { return m_nSystemError; }

private:
    uint32_t m_nErrorCode = 0;
    uint32_t m_nSystemError = 0;
};

class httpclientexceptionW : public errmsg_exceptionW {
public:
    httpclientexceptionW() = default;
    explicit httpclientexceptionW(const wchar_t* szErrMsg, uint32_t nErrorCode = 0, uint32_t nSystemError = 0)
        : errmsg_exceptionW(szErrMsg), m_nErrorCode(nErrorCode), m_nSystemError(nSystemError) {}

    const char* what() const noexcept override { return "httpclientexceptionW"; }
    uint32_t GetErrorCode() const noexcept { return m_nErrorCode; }
    uint32_t GetSystemError() const noexcept { return m_nSystemError; }

private:
    uint32_t m_nErrorCode = 0;
    uint32_t m_nSystemError = 0;
};

// Throw helpers: an argument error (code 0) with the operation's message, or a table error.
[[noreturn]] void ThrowArgumentErrorW(const wchar_t* szMessage);
[[noreturn]] void ThrowArgumentErrorA(const char* szMessage);
[[noreturn]] void ThrowHttpErrorW(uint32_t nErrorCode, uint32_t nSystemError = 0, const wchar_t* szArg = nullptr);
[[noreturn]] void ThrowHttpErrorA(uint32_t nErrorCode, uint32_t nSystemError = 0);
// Inside a catch block: lets an httpclientexceptionW go on unchanged and turns an allocation
// failure into error 102 and anything else into error 100.
[[noreturn]] void RethrowAsHttpError();

}  // namespace Kaver
