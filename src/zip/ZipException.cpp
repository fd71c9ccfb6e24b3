#include "zip/ZipException.h"

#include <cerrno>
#include <cstring>

#include "platform/strings.h"

namespace {

const wchar_t* ErrnoText(int iCause) {
    switch (iCause) {
        case 1: return L"Not super-user";
        case 2: return L"No such file or directory";
        case 4: return L"Interrupted system call";
        case 5: return L"I/O error";
        case 6: return L"No such device or address";
        case 9: return L"Bad file number";
        case 12: return L"Not enough space";
        case 13: return L"Permission denied";
        case 14: return L"Bad address";
        case 17: return L"File exists";
        case 18: return L"Cross-device link";
        case 19: return L"No such device";
        case 20: return L"Not a directory";
        case 21: return L"Is a directory";
        case 22: return L"Invalid argument";
        case 23: return L"File table overflow";
        case 24: return L"Too many open files";
        case 27: return L"File too large";
        case 28: return L"No space left on device";
        case 29: return L"Illegal seek";
        case 30: return L"Read-only file system";
        default: return nullptr;
    }
}

std::wstring SystemText(int nSystemError) {
    if (nSystemError != 0) {
        const char* text = std::strerror(nSystemError);
        if (text != nullptr && *text != '\0') return platform::FromUtf8(text);
    }
    return L"Unknown error";
}

}  // namespace

CZipException::CZipException(int iCause, std::wstring szFileName, int nSystemError)
    : m_iCause(iCause), m_szFileName(std::move(szFileName)), m_nSystemError(nSystemError) {
    m_szWhat = platform::ToUtf8(GetErrorMessage());
}

void CZipException::Throw(int iCause, const std::wstring& szFileName, int nSystemError) {
    throw CZipException(iCause, szFileName, nSystemError);
}

int CZipException::ZlibErrToCause(int iZlibError) {
    switch (iZlibError) {
        case 1: return streamEnd;
        case 2: return needDict;
        case -1: return errNo;
        case -2: return streamError;
        case -3: return dataError;
        case -4: return memError;
        case -5: return bufError;
        case -6: return versionError;
        default: return generic;
    }
}

int CZipException::SystemErrorToCause(unsigned long uWin32Error) {
    switch (uWin32Error) {
        case 2:
        case 3: return 2;     // file or path not found
        case 5: return 13;    // access denied
        case 32: return 13;   // sharing violation
        case 80:
        case 183: return 17;  // already exists
        case 112: return 28;  // disk full
        default: return 5;    // anything else is an I/O failure
    }
}

std::wstring CZipException::GetErrorMessage() const {
    if (const wchar_t* text = ErrnoText(m_iCause)) return text;
    switch (m_iCause) {
        case badZipFile: return L"Damaged or not a zip file";
        case badCrc: return L"Crc mismatched";
        case noCallback: return L"No disk-spanning callback object set";
        case aborted: return L"Disk change aborted";
        case abortedAction: return L"Action aborted";
        case abortedSafely: return L"Action aborted safely";
        case nonRemovable: return L"The device selected for the disk spanning archive is non removable";
        case tooManyVolumes: return L"Limit of the maximum volumes reached";
        case tooLongFileName: return L"The filename of the file being added to the archive is too long";
        case badPassword: return L"Incorrect password set for the file being decrypted";
        case dirWithSize: return L"During testing found the directory with the size greater than 0";
        case internal: return L"Internal error";
        case notRemoved:
            return platform::FormatW(L"%s (%s)", L"Error while removing a file", SystemText(m_nSystemError));
        case notRenamed:
            return platform::FormatW(L"%s (%s)", L"Error while renaming a file", SystemText(m_nSystemError));
        case platfNotSupp: return L"Cannot create the file for the specified platform";
        case cdirNotFound:
            return L"The central directory was not found in the archive (or you were trying to open not the last "
                   L"disk of a multi-disk archive)";
        case unsafeEntry: return L"An entry's name or type would place it outside the target folder or over another entry";
        case sizeExceeded: return L"An entry's data is larger than its declared size";
        case streamEnd: return L"Zlib Library error (end of stream)";
        case errNo: return SystemText(m_nSystemError);
        case streamError: return L"Zlib library error (stream error)";
        case dataError: return L"Zlib library error (data error)";
        case memError: return L"Not enough memory";
        case bufError: return L"Zlib library error (buffer error)";
        case versionError: return L"Zlib library error (version error)";
        default: return SystemText(m_nSystemError);
    }
}

bool CZipException::GetErrorText(wchar_t* pszError, size_t nSize) const {
    if (pszError == nullptr || nSize == 0) return false;
    const std::wstring text = GetErrorMessage();
    if (text.empty()) return false;
    const size_t n = text.size() < nSize - 1 ? text.size() : nSize - 1;
    text.copy(pszError, n);
    pszError[n] = L'\0';
    return true;
}

const char* CZipException::what() const noexcept { return m_szWhat.c_str(); }
