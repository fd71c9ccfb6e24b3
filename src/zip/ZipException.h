// The zip reader's only error type: a cause code plus the archive it concerns.
#pragma once

#include <cstddef>
#include <exception>
#include <string>

class CZipException : public std::exception {
public:
    enum : int {
        noError = 0,
        generic = 100,
        badZipFile = 101,
        badCrc = 102,
        noCallback = 103,
        aborted = 104,
        abortedAction = 105,
        abortedSafely = 106,
        nonRemovable = 107,
        tooManyVolumes = 108,
        tooLongFileName = 109,
        badPassword = 110,
        dirWithSize = 111,
        internal = 112,
        notRemoved = 113,
        notRenamed = 114,
        platfNotSupp = 115,
        cdirNotFound = 116,
        // An entry whose name or type would write outside the target folder or over another entry.
        unsafeEntry = 117,
        // Inflated data goes on past the entry's declared size.
        sizeExceeded = 118,
        streamEnd = 500,
        needDict = 501,
        errNo = 502,
        streamError = 503,
        dataError = 504,
        memError = 505,
        bufError = 506,
        versionError = 507,
    };

    // nSystemError: the errno value behind the failure, when there is one (0 for none).
    explicit CZipException(int iCause = generic, std::wstring szFileName = {}, int nSystemError = 0);

    [[noreturn]] static void Throw(int iCause, const std::wstring& szFileName = {}, int nSystemError = 0);
    // zlib result → cause code (0 and Z_NEED_DICT are not errors but still map, as the table says).
    static int ZlibErrToCause(int iZlibError);
    // Win32 error number from the platform layer → the errno-style cause that names it.
    static int SystemErrorToCause(unsigned long uWin32Error);

    // Copies the cause text, truncated to nSize - 1 characters and terminated. False for a
    // null buffer, a size of 0 or an empty text.
    bool GetErrorText(wchar_t* pszError, size_t nSize) const;
    std::wstring GetErrorMessage() const;
    const char* what() const noexcept override;

    int m_iCause;
    std::wstring m_szFileName;

private:
    int m_nSystemError;
    std::string m_szWhat;
};
