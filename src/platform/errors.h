// Error numbers at the seam, and what a person and a debug line are told about them.
// Both platforms speak Win32 error numbers (and WinINet's); each back end translates its own
// system's numbers into them with TranslateSystemError, and keeps the system's number beside the
// translated one (SystemError) for the debug line. The one table below gives every number its
// name and its sentence; the sentence goes through the message catalogs.
// Linux: errno (and, in the registry store, SQLite's results) are translated; an errno without a
// Win32 twin keeps its number with the customer bit (0x20000000 | errno) and gets the sentence of
// an unexpected error. Windows: Win32 numbers are the system's own; an HRESULT that wraps one is
// unwrapped.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

inline constexpr uint32_t ERROR_SUCCESS_ = 0;
inline constexpr uint32_t ERROR_FILE_NOT_FOUND_ = 2;
inline constexpr uint32_t ERROR_PATH_NOT_FOUND_ = 3;
inline constexpr uint32_t ERROR_TOO_MANY_OPEN_FILES_ = 4;
inline constexpr uint32_t ERROR_ACCESS_DENIED_ = 5;
inline constexpr uint32_t ERROR_INVALID_HANDLE_ = 6;
inline constexpr uint32_t ERROR_NOT_ENOUGH_MEMORY_ = 8;
inline constexpr uint32_t ERROR_NOT_SAME_DEVICE_ = 17;
inline constexpr uint32_t ERROR_WRITE_PROTECT_ = 19;
inline constexpr uint32_t ERROR_SHARING_VIOLATION_ = 32;
inline constexpr uint32_t ERROR_LOCK_VIOLATION_ = 33;
inline constexpr uint32_t ERROR_NOT_SUPPORTED_ = 50;
inline constexpr uint32_t ERROR_FILE_EXISTS_ = 80;
inline constexpr uint32_t ERROR_INVALID_PARAMETER_ = 87;
inline constexpr uint32_t ERROR_DISK_FULL_ = 112;
inline constexpr uint32_t ERROR_DIR_NOT_EMPTY_ = 145;
inline constexpr uint32_t ERROR_BAD_PATHNAME_ = 161;
inline constexpr uint32_t ERROR_ALREADY_EXISTS_ = 183;
inline constexpr uint32_t ERROR_BAD_EXE_FORMAT_ = 193;
inline constexpr uint32_t ERROR_FILENAME_EXCED_RANGE_ = 206;
inline constexpr uint32_t ERROR_FILE_TOO_LARGE_ = 223;
// A symbolic link (Windows: a reparse point) stood where a real folder or file was required.
inline constexpr uint32_t ERROR_STOPPED_ON_SYMLINK_ = 681;
inline constexpr uint32_t ERROR_OPERATION_ABORTED_ = 995;
inline constexpr uint32_t ERROR_REGISTRY_CORRUPT_ = 1015;
inline constexpr uint32_t ERROR_REGISTRY_IO_FAILED_ = 1016;
inline constexpr uint32_t ERROR_IO_DEVICE_ = 1117;
inline constexpr uint32_t ERROR_NO_ASSOCIATION_ = 1155;

// WinINet's numbers (platform/inet.h reports them). No trailing '_': <wininet.h> defines the
// same names with the same values, and is only ever included after this header.
inline constexpr uint32_t ERROR_INTERNET_TIMEOUT = 12002;
inline constexpr uint32_t ERROR_INTERNET_INTERNAL_ERROR = 12004;
inline constexpr uint32_t ERROR_INTERNET_INVALID_URL = 12005;
inline constexpr uint32_t ERROR_INTERNET_UNRECOGNIZED_SCHEME = 12006;
inline constexpr uint32_t ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
inline constexpr uint32_t ERROR_INTERNET_OPERATION_CANCELLED = 12017;
inline constexpr uint32_t ERROR_INTERNET_INCORRECT_HANDLE_STATE = 12019;
inline constexpr uint32_t ERROR_INTERNET_CANNOT_CONNECT = 12029;
inline constexpr uint32_t ERROR_INTERNET_CONNECTION_ABORTED = 12030;
inline constexpr uint32_t ERROR_INTERNET_CONNECTION_RESET = 12031;
inline constexpr uint32_t ERROR_INTERNET_SEC_CERT_CN_INVALID = 12038;
inline constexpr uint32_t ERROR_INTERNET_INVALID_CA = 12045;
inline constexpr uint32_t ERROR_HTTP_HEADER_NOT_FOUND = 12150;
inline constexpr uint32_t ERROR_HTTP_INVALID_SERVER_RESPONSE = 12152;
inline constexpr uint32_t ERROR_HTTP_REDIRECT_FAILED = 12156;
inline constexpr uint32_t ERROR_INTERNET_SECURITY_CHANNEL_ERROR = 12157;
inline constexpr uint32_t ERROR_INTERNET_SECURE_FAILURE = 12175;

// Marks a sentence for the catalogs; it is translated when it is shown.
constexpr const wchar_t* ErrorText(const wchar_t* szEnglish) { return szEnglish; }

struct ErrorEntry {
    uint32_t code;
    const char* name;
    const wchar_t* sentence;  // English; a clause that can follow "<what failed>: "
};

inline constexpr ErrorEntry kErrorTable[] = {
    {ERROR_SUCCESS_, "ERROR_SUCCESS", ErrorText(L"the operation succeeded")},
    {ERROR_FILE_NOT_FOUND_, "ERROR_FILE_NOT_FOUND", ErrorText(L"the file does not exist")},
    {ERROR_PATH_NOT_FOUND_, "ERROR_PATH_NOT_FOUND", ErrorText(L"a folder on the way does not exist")},
    {ERROR_TOO_MANY_OPEN_FILES_, "ERROR_TOO_MANY_OPEN_FILES", ErrorText(L"too many files are open")},
    {ERROR_ACCESS_DENIED_, "ERROR_ACCESS_DENIED", ErrorText(L"access is denied")},
    {ERROR_INVALID_HANDLE_, "ERROR_INVALID_HANDLE", ErrorText(L"the handle is not valid")},
    {ERROR_NOT_ENOUGH_MEMORY_, "ERROR_NOT_ENOUGH_MEMORY", ErrorText(L"there is not enough memory")},
    {ERROR_NOT_SAME_DEVICE_, "ERROR_NOT_SAME_DEVICE", ErrorText(L"the file cannot be moved to another disk")},
    {ERROR_WRITE_PROTECT_, "ERROR_WRITE_PROTECT", ErrorText(L"the disk is read-only")},
    {ERROR_SHARING_VIOLATION_, "ERROR_SHARING_VIOLATION", ErrorText(L"another program is using the file")},
    {ERROR_LOCK_VIOLATION_, "ERROR_LOCK_VIOLATION", ErrorText(L"another program holds a lock on the file")},
    {ERROR_NOT_SUPPORTED_, "ERROR_NOT_SUPPORTED", ErrorText(L"the system does not support the operation")},
    {ERROR_FILE_EXISTS_, "ERROR_FILE_EXISTS", ErrorText(L"the file already exists")},
    {ERROR_INVALID_PARAMETER_, "ERROR_INVALID_PARAMETER", ErrorText(L"a parameter is not valid")},
    {ERROR_DISK_FULL_, "ERROR_DISK_FULL", ErrorText(L"the disk is full")},
    {ERROR_DIR_NOT_EMPTY_, "ERROR_DIR_NOT_EMPTY", ErrorText(L"the folder is not empty")},
    {ERROR_BAD_PATHNAME_, "ERROR_BAD_PATHNAME", ErrorText(L"the path is not valid")},
    {ERROR_ALREADY_EXISTS_, "ERROR_ALREADY_EXISTS", ErrorText(L"something of that name already exists")},
    {ERROR_BAD_EXE_FORMAT_, "ERROR_BAD_EXE_FORMAT", ErrorText(L"the file is not a program this system can run")},
    {ERROR_FILENAME_EXCED_RANGE_, "ERROR_FILENAME_EXCED_RANGE", ErrorText(L"the name or path is too long")},
    {ERROR_FILE_TOO_LARGE_, "ERROR_FILE_TOO_LARGE", ErrorText(L"the file is too large")},
    {ERROR_STOPPED_ON_SYMLINK_, "ERROR_STOPPED_ON_SYMLINK",
     ErrorText(L"a symbolic link stands where a real file or folder is required")},
    {ERROR_OPERATION_ABORTED_, "ERROR_OPERATION_ABORTED", ErrorText(L"the operation was interrupted")},
    {ERROR_REGISTRY_CORRUPT_, "ERROR_REGISTRY_CORRUPT", ErrorText(L"the registry store is damaged")},
    {ERROR_REGISTRY_IO_FAILED_, "ERROR_REGISTRY_IO_FAILED", ErrorText(L"the registry store could not be read or written")},
    {ERROR_IO_DEVICE_, "ERROR_IO_DEVICE", ErrorText(L"the disk reported an input/output error")},
    {ERROR_NO_ASSOCIATION_, "ERROR_NO_ASSOCIATION", ErrorText(L"the file is not a program, and no program is set to open it")},
    {ERROR_INTERNET_TIMEOUT, "ERROR_INTERNET_TIMEOUT", ErrorText(L"the server did not answer in time")},
    {ERROR_INTERNET_INTERNAL_ERROR, "ERROR_INTERNET_INTERNAL_ERROR", ErrorText(L"the transfer failed inside the updater")},
    {ERROR_INTERNET_INVALID_URL, "ERROR_INTERNET_INVALID_URL", ErrorText(L"the address is not a valid http or https address")},
    {ERROR_INTERNET_UNRECOGNIZED_SCHEME, "ERROR_INTERNET_UNRECOGNIZED_SCHEME",
     ErrorText(L"the address is not a valid http or https address")},
    {ERROR_INTERNET_NAME_NOT_RESOLVED, "ERROR_INTERNET_NAME_NOT_RESOLVED", ErrorText(L"the host name could not be resolved")},
    {ERROR_INTERNET_OPERATION_CANCELLED, "ERROR_INTERNET_OPERATION_CANCELLED", ErrorText(L"the transfer was cancelled")},
    {ERROR_INTERNET_INCORRECT_HANDLE_STATE, "ERROR_INTERNET_INCORRECT_HANDLE_STATE",
     ErrorText(L"the transfer failed inside the updater")},
    {ERROR_INTERNET_CANNOT_CONNECT, "ERROR_INTERNET_CANNOT_CONNECT",
     ErrorText(L"the connection was refused or the host cannot be reached")},
    {ERROR_INTERNET_CONNECTION_ABORTED, "ERROR_INTERNET_CONNECTION_ABORTED",
     ErrorText(L"the connection broke off before the transfer was complete")},
    {ERROR_INTERNET_CONNECTION_RESET, "ERROR_INTERNET_CONNECTION_RESET",
     ErrorText(L"the connection broke off before the transfer was complete")},
    {ERROR_INTERNET_SEC_CERT_CN_INVALID, "ERROR_INTERNET_SEC_CERT_CN_INVALID",
     ErrorText(L"the server's certificate is not issued for this host name")},
    {ERROR_INTERNET_INVALID_CA, "ERROR_INTERNET_INVALID_CA", ErrorText(L"the server's certificate is not trusted")},
    {ERROR_HTTP_HEADER_NOT_FOUND, "ERROR_HTTP_HEADER_NOT_FOUND", ErrorText(L"the server's answer lacks a header")},
    {ERROR_HTTP_INVALID_SERVER_RESPONSE, "ERROR_HTTP_INVALID_SERVER_RESPONSE", ErrorText(L"the server's answer is not valid HTTP")},
    {ERROR_HTTP_REDIRECT_FAILED, "ERROR_HTTP_REDIRECT_FAILED",
     ErrorText(L"the server redirected to an address that is not allowed")},
    {ERROR_INTERNET_SECURITY_CHANNEL_ERROR, "ERROR_INTERNET_SECURITY_CHANNEL_ERROR",
     ErrorText(L"the server's certificate is not trusted")},
    {ERROR_INTERNET_SECURE_FAILURE, "ERROR_INTERNET_SECURE_FAILURE", ErrorText(L"the server's certificate is not trusted")},
};

// The table's entry for the number; null when it has none.
const ErrorEntry* FindError(uint32_t nCode);
// "ERROR_DISK_FULL"; "error <number>" for a number the table lacks.
std::string ErrorName(uint32_t nCode);
// The sentence in the user's language ("the disk is full"); one that names the number for a
// number the table lacks.
std::wstring ErrorSentence(uint32_t nCode);

// A failure as the seam reports it, with the system's own number beside it.
struct SystemError {
    SystemError() = default;
    // A number the seam chose itself, or the system's own where it is already the seam's.
    SystemError(uint32_t nCode) : code(nCode), native(nCode) {}
    SystemError(uint32_t nCode, int64_t nNative) : code(nCode), native(nNative) {}
    uint32_t code = 0;   // the seam's number
    int64_t native = 0;  // the system's: errno, a SQLite result, GetLastError
};
// For debug lines: "ERROR_IO_DEVICE (1117, system error 5)"; the system's number is left out
// when it is the seam's.
std::wstring DescribeError(const SystemError& error);

// The seam's number for a number of this system (Linux: an errno; Windows: a Win32 error, or an
// HRESULT that wraps one).
uint32_t TranslateSystemError(int64_t nSystemError);
// The same, kept beside the system's number.
inline SystemError SystemErrorOf(int64_t nSystemError) { return {TranslateSystemError(nSystemError), nSystemError}; }

}  // namespace platform
