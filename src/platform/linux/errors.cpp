#include "platform/errors.h"

#include <sqlite3.h>

#include <cerrno>

#include "platform/linux/posix_util.h"

namespace platform {

uint32_t TranslateSystemError(int64_t nSystemError) {
    switch (nSystemError) {
        case 0: return ERROR_SUCCESS_;
        case ENOENT: return ERROR_FILE_NOT_FOUND_;
        case ENOTDIR: return ERROR_PATH_NOT_FOUND_;
        case EMFILE:
        case ENFILE: return ERROR_TOO_MANY_OPEN_FILES_;
        case EACCES:
        case EPERM:
        case EISDIR: return ERROR_ACCESS_DENIED_;
        case EBADF: return ERROR_INVALID_HANDLE_;
        case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY_;
        case EXDEV: return ERROR_NOT_SAME_DEVICE_;
        case EROFS: return ERROR_WRITE_PROTECT_;
        case EBUSY:
        case ETXTBSY: return ERROR_SHARING_VIOLATION_;
        case EWOULDBLOCK: return ERROR_LOCK_VIOLATION_;
        case ENOSYS:
        case EOPNOTSUPP: return ERROR_NOT_SUPPORTED_;
        case EEXIST: return ERROR_ALREADY_EXISTS_;
        case EINVAL: return ERROR_INVALID_PARAMETER_;
        case ENOSPC:
        case EDQUOT: return ERROR_DISK_FULL_;
        case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY_;
        case ENOEXEC: return ERROR_BAD_EXE_FORMAT_;
        case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE_;
        case EFBIG: return ERROR_FILE_TOO_LARGE_;
        // The updater opens with O_NOFOLLOW: a link where a file or folder was required.
        case ELOOP: return ERROR_STOPPED_ON_SYMLINK_;
        case EINTR: return ERROR_OPERATION_ABORTED_;
        case EIO: return ERROR_IO_DEVICE_;
        default: return 0x20000000u | static_cast<uint32_t>(nSystemError);  // customer bit: no Win32 twin
    }
}

namespace posix {

uint32_t TranslateSqliteError(int nResult, int nSystemErrno) {
    switch (nResult & 0xFF) {
        case SQLITE_OK:
        case SQLITE_ROW:
        case SQLITE_DONE: return ERROR_SUCCESS_;
        case SQLITE_BUSY:
        case SQLITE_LOCKED: return ERROR_LOCK_VIOLATION_;
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB: return ERROR_REGISTRY_CORRUPT_;
        case SQLITE_FULL: return ERROR_DISK_FULL_;
        case SQLITE_NOMEM: return ERROR_NOT_ENOUGH_MEMORY_;
        case SQLITE_READONLY:
            return nSystemErrno == EROFS ? ERROR_WRITE_PROTECT_ : ERROR_ACCESS_DENIED_;
        case SQLITE_PERM:
        case SQLITE_AUTH: return ERROR_ACCESS_DENIED_;
        // The file system said why: its number tells more than SQLite's.
        case SQLITE_CANTOPEN:
        case SQLITE_IOERR:
            if (nSystemErrno != 0) return TranslateSystemError(nSystemErrno);
            return (nResult & 0xFF) == SQLITE_CANTOPEN ? ERROR_FILE_NOT_FOUND_ : ERROR_REGISTRY_IO_FAILED_;
        default: return ERROR_REGISTRY_IO_FAILED_;
    }
}

}  // namespace posix

}  // namespace platform
