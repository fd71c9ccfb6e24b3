#include "platform/fs.h"

#include <windows.h>

#include <climits>
#include <utility>
#include <vector>

#include "platform/strings.h"
#include "platform/windows/win_util.h"

namespace platform {

namespace {

using win::NativePath;

uint32_t SysError() { return static_cast<uint32_t>(::GetLastError()); }

HANDLE H(intptr_t fd) { return reinterpret_cast<HANDLE>(fd); }

// FILETIME counts 100 ns ticks since 1601-01-01; the clock counts from 1970-01-01.
constexpr int64_t kEpochDelta100ns = 116444736000000000LL;

FileTime FromFileTime(const FILETIME& ft) {
    const int64_t ticks = static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
    const std::chrono::duration<int64_t, std::ratio<1, 10000000>> since(ticks - kEpochDelta100ns);
    return FileTime(std::chrono::duration_cast<FileTime::duration>(since));
}

FILETIME ToFileTime(FileTime time) {
    const auto since = std::chrono::duration_cast<std::chrono::duration<int64_t, std::ratio<1, 10000000>>>(
        time.time_since_epoch());
    const auto ticks = static_cast<uint64_t>(since.count() + kEpochDelta100ns);
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return ft;
}

}  // namespace

std::string ToNativePath(const std::wstring& szPath) { return ToUtf8(NativePath(szPath)); }

std::wstring FromNativePath(const std::string& szPath) { return FromUtf8(szPath); }

bool PathExists(const std::wstring& szPath) {
    return !szPath.empty() && ::GetFileAttributesW(NativePath(szPath).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool EntryExists(const std::wstring& szPath) {
    if (szPath.empty()) return false;
    // The attributes of a link are its own: it is not followed.
    if (::GetFileAttributesW(NativePath(szPath).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    const DWORD err = ::GetLastError();
    return err != ERROR_FILE_NOT_FOUND && err != ERROR_PATH_NOT_FOUND;
}

// Windows has no lookup relative to an open folder here: each name takes the full path.
struct FolderProbe::Listing {};

FolderProbe::FolderProbe(const std::wstring& szFolder) : m_folder(szFolder) {}

FolderProbe::~FolderProbe() = default;

FolderProbe::FolderProbe(FolderProbe&& other) noexcept
    : m_folder(std::move(other.m_folder)), m_fd(std::exchange(other.m_fd, -1)), m_listing(std::move(other.m_listing)) {}

bool FolderProbe::Exists(const std::wstring& szName) const { return PathExists(m_folder + L"\\" + szName); }

bool IsDirectory(const std::wstring& szPath) {
    const DWORD attrs = ::GetFileAttributesW(NativePath(szPath).c_str());
    return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

namespace {

// The components of a relative path, "." and empty ones skipped; false when one is "..".
bool SplitRelative(const std::wstring& szRelative, std::vector<std::wstring>& parts) {
    size_t start = 0;
    while (start <= szRelative.size()) {
        size_t end = szRelative.find_first_of(L"\\/", start);
        if (end == std::wstring::npos) end = szRelative.size();
        const std::wstring part = szRelative.substr(start, end - start);
        if (part == L"..") return false;
        if (!part.empty() && part != L".") parts.push_back(part);
        start = end + 1;
    }
    return true;
}

// Walks szBase's first `count` parts, refusing reparse points and creating missing folders; the
// folder reached in *pszFolder. No descriptors relative to a folder here: each component is
// checked just before it is used.
uint32_t WalkFoldersBelow(const std::wstring& szBase, const std::vector<std::wstring>& parts, size_t count,
                          std::wstring* pszFolder) {
    std::wstring folder = NativePath(szBase);
    while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    if (!IsDirectory(folder)) {
        // The base itself is trusted: create its chain as a plain path.
        for (size_t i = 1; i <= folder.size(); ++i) {
            if (i != folder.size() && folder[i] != L'\\') continue;
            const std::wstring prefix = folder.substr(0, i);
            if (prefix.back() == L':' || IsDirectory(prefix)) continue;
            if (!::CreateDirectoryW(prefix.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) return SysError();
        }
    }
    for (size_t i = 0; i < count; ++i) {
        folder += L'\\';
        folder += parts[i];
        DWORD attrs = ::GetFileAttributesW(folder.c_str());
        if (attrs == INVALID_FILE_ATTRIBUTES) {
            if (!::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) return SysError();
            attrs = ::GetFileAttributesW(folder.c_str());
        }
        if (attrs == INVALID_FILE_ATTRIBUTES) return SysError();
        if (attrs & FILE_ATTRIBUTE_REPARSE_POINT) return ERROR_STOPPED_ON_SYMLINK_;
        if (!(attrs & FILE_ATTRIBUTE_DIRECTORY)) return ERROR_PATH_NOT_FOUND_;
    }
    *pszFolder = folder;
    return 0;
}

}  // namespace

uint32_t CreateFoldersBelow(const std::wstring& szBase, const std::wstring& szRelative) {
    std::vector<std::wstring> parts;
    if (!SplitRelative(szRelative, parts)) return ERROR_BAD_PATHNAME_;
    std::wstring folder;
    return WalkFoldersBelow(szBase, parts, parts.size(), &folder);
}

uint32_t File::CreateBelow(const std::wstring& szBase, const std::wstring& szRelative) {
    Close();
    std::vector<std::wstring> parts;
    if (!SplitRelative(szRelative, parts) || parts.empty()) return m_lastError = ERROR_BAD_PATHNAME_;
    std::wstring folder;
    if (uint32_t err = WalkFoldersBelow(szBase, parts, parts.size() - 1, &folder)) return m_lastError = err;
    const std::wstring path = folder + L'\\' + parts.back();
    const DWORD attrs = ::GetFileAttributesW(path.c_str());
    if (attrs != INVALID_FILE_ATTRIBUTES) {
        // A link to a folder is removed as a folder; a real folder stays and fails the create.
        if ((attrs & FILE_ATTRIBUTE_DIRECTORY) && !(attrs & FILE_ATTRIBUTE_REPARSE_POINT)) return m_lastError = ERROR_ACCESS_DENIED_;
        if (attrs & FILE_ATTRIBUTE_READONLY) ::SetFileAttributesW(path.c_str(), attrs & ~FILE_ATTRIBUTE_READONLY);
        const BOOL removed = (attrs & FILE_ATTRIBUTE_DIRECTORY) ? ::RemoveDirectoryW(path.c_str()) : ::DeleteFileW(path.c_str());
        if (!removed) return m_lastError = SysError();
    }
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return m_lastError = SysError();
    m_fd = reinterpret_cast<intptr_t>(h);
    return m_lastError = 0;
}

FolderTrust CheckFolderTrust(const std::wstring& szFolder) {
    const DWORD attrs = ::GetFileAttributesW(NativePath(szFolder).c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES) return FolderTrust::Missing;
    if (attrs & FILE_ATTRIBUTE_REPARSE_POINT) return FolderTrust::Link;
    if (!(attrs & FILE_ATTRIBUTE_DIRECTORY)) return FolderTrust::NotAFolder;
    return FolderTrust::Trusted;
}

uint32_t CreateDirectoryOne(const std::wstring& szPath) {
    return ::CreateDirectoryW(NativePath(szPath).c_str(), nullptr) ? 0 : SysError();
}

uint32_t RemoveDirectoryOne(const std::wstring& szPath) {
    return ::RemoveDirectoryW(NativePath(szPath).c_str()) ? 0 : SysError();
}

uint32_t DeleteFileAt(const std::wstring& szPath) {
    return ::DeleteFileW(NativePath(szPath).c_str()) ? 0 : SysError();
}

uint32_t MoveFileNoReplace(const std::wstring& szFrom, const std::wstring& szTo) {
    if (::MoveFileExW(NativePath(szFrom).c_str(), NativePath(szTo).c_str(), 0)) return 0;
    const uint32_t err = SysError();
    // MoveFileEx reports an existing destination as 183; the seam promises 80 for it.
    return err == ERROR_ALREADY_EXISTS_ ? ERROR_FILE_EXISTS_ : err;
}

uint32_t ReplaceFileAtomic(const std::wstring& szFrom, const std::wstring& szTo) {
    // Write-through: the call returns once the rename is on disk.
    return ::MoveFileExW(NativePath(szFrom).c_str(), NativePath(szTo).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? 0
               : SysError();
}

uint32_t AddHardLink(const std::wstring& szExisting, const std::wstring& szNew) {
    return ::CreateHardLinkW(NativePath(szNew).c_str(), NativePath(szExisting).c_str(), nullptr) ? 0 : SysError();
}

uint32_t RenameReplacing(const std::wstring& szFrom, const std::wstring& szTo) {
    // No copy allowed: across volumes this fails and moves nothing.
    return ::MoveFileExW(NativePath(szFrom).c_str(), NativePath(szTo).c_str(), MOVEFILE_REPLACE_EXISTING) ? 0
                                                                                                       : SysError();
}

uint32_t SyncFolder(const std::wstring& szFolder) {
    const std::wstring folder = szFolder.empty() ? std::wstring(L".") : NativePath(szFolder);
    HANDLE h = ::CreateFileW(folder.c_str(), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        // A folder that may not be opened for writing is still there; its entries are kept by
        // the file system's own journal.
        return IsDirectory(folder) ? 0 : SysError();
    }
    // Not every file system flushes a folder handle; where it refuses, the journal stands.
    ::FlushFileBuffers(h);
    ::CloseHandle(h);
    return 0;
}

uint32_t FlushFiles(const std::vector<std::wstring>& paths) {
    // Windows flushes file by file (a whole volume needs administrator rights).
    for (const auto& path : paths) {
        HANDLE h = ::CreateFileW(NativePath(path).c_str(), GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return SysError();
        const uint32_t err = ::FlushFileBuffers(h) ? 0 : SysError();
        ::CloseHandle(h);
        if (err != 0) return err;
    }
    return 0;
}

std::optional<uint64_t> FileSize(const std::wstring& szPath) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(NativePath(szPath).c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::optional<FileTime> FileModTime(const std::wstring& szPath) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(NativePath(szPath).c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
    return FromFileTime(data.ftLastWriteTime);
}

uint32_t SetFileModTime(const std::wstring& szPath, FileTime time) {
    // Backup semantics so that folders can be opened too.
    HANDLE h = ::CreateFileW(NativePath(szPath).c_str(), FILE_WRITE_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return SysError();
    const FILETIME ft = ToFileTime(time);
    const uint32_t err = ::SetFileTime(h, nullptr, nullptr, &ft) ? 0 : SysError();
    ::CloseHandle(h);
    return err;
}

uint32_t SetReadOnly(const std::wstring& szPath, bool bReadOnly) {
    const std::wstring p = NativePath(szPath);
    const DWORD attrs = ::GetFileAttributesW(p.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES) return SysError();
    const DWORD next = bReadOnly ? (attrs | FILE_ATTRIBUTE_READONLY) : (attrs & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    return ::SetFileAttributesW(p.c_str(), next) ? 0 : SysError();
}

// No execute permission to give, and none to copy: only the files must be there.
uint32_t SetExecutable(const std::wstring& szPath) {
    return ::GetFileAttributesW(NativePath(szPath).c_str()) != INVALID_FILE_ATTRIBUTES ? 0 : SysError();
}

uint32_t CopyPermissions(const std::wstring& szFrom, const std::wstring& szTo) {
    if (uint32_t err = SetExecutable(szFrom)) return err;
    return SetExecutable(szTo);
}

std::vector<std::wstring> FindFiles(const std::wstring& szPattern) {
    std::vector<std::wstring> out;
    const std::wstring pattern = NativePath(szPattern);
    if (pattern.empty() || pattern.back() == L'\\') return out;
    WIN32_FIND_DATAW fd;
    HANDLE h = ::FindFirstFileW(pattern.c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return out;
    do {
        const std::wstring name = fd.cFileName;
        if (name != L"." && name != L"..") out.push_back(name);
    } while (::FindNextFileW(h, &fd));
    ::FindClose(h);
    return out;
}

uint32_t File::Open(const std::wstring& szPath, Mode mode) {
    Close();
    DWORD access = 0, disposition = 0;
    switch (mode) {
        case Mode::Read: access = GENERIC_READ, disposition = OPEN_EXISTING; break;
        case Mode::CreateAlways: access = GENERIC_WRITE, disposition = CREATE_ALWAYS; break;
        case Mode::ReadWrite:
        case Mode::ReadWriteNoLink: access = GENERIC_READ | GENERIC_WRITE, disposition = OPEN_EXISTING; break;
        case Mode::CreateNew: access = GENERIC_READ | GENERIC_WRITE, disposition = CREATE_NEW; break;
    }
    // A link at the path is opened as itself, and then refused.
    const DWORD attributes =
        FILE_ATTRIBUTE_NORMAL | (mode == Mode::ReadWriteNoLink || mode == Mode::CreateNew ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    // Others may read, and rename over the file, while it is open (as on POSIX); a folder fails
    // with 5 because no backup semantics are asked for.
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_DELETE | (mode == Mode::Read ? FILE_SHARE_WRITE : 0);
    HANDLE h = ::CreateFileW(NativePath(szPath).c_str(), access, share, nullptr, disposition, attributes, nullptr);
    if (h == INVALID_HANDLE_VALUE) return m_lastError = SysError();
    BY_HANDLE_FILE_INFORMATION info{};
    if (mode == Mode::ReadWriteNoLink &&
        (!::GetFileInformationByHandle(h, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)) {
        ::CloseHandle(h);
        return m_lastError = ERROR_ACCESS_DENIED_;
    }
    m_fd = reinterpret_cast<intptr_t>(h);
    return m_lastError = 0;
}

int64_t File::Read(void* pbyBuff, size_t cbyBuff) {
    DWORD n = 0;
    const DWORD want = cbyBuff > UINT_MAX ? UINT_MAX : static_cast<DWORD>(cbyBuff);
    if (!::ReadFile(H(m_fd), pbyBuff, want, &n, nullptr)) {
        const DWORD err = ::GetLastError();
        if (err == ERROR_HANDLE_EOF || err == ERROR_BROKEN_PIPE) return 0;
        m_lastError = err;
        return -1;
    }
    return n;
}

int64_t File::ReadAt(uint64_t offset, void* pbyBuff, size_t cbyBuff) {
    // A positioned read on a synchronous handle moves the file pointer; put it back.
    LARGE_INTEGER zero{}, pos{};
    if (!::SetFilePointerEx(H(m_fd), zero, &pos, FILE_CURRENT)) {
        m_lastError = SysError();
        return -1;
    }
    OVERLAPPED ov{};
    ov.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD n = 0;
    const DWORD want = cbyBuff > UINT_MAX ? UINT_MAX : static_cast<DWORD>(cbyBuff);
    int64_t result = n;
    if (::ReadFile(H(m_fd), pbyBuff, want, &n, &ov)) {
        result = n;
    } else if (::GetLastError() == ERROR_HANDLE_EOF) {
        result = 0;
    } else {
        m_lastError = SysError();
        result = -1;
    }
    ::SetFilePointerEx(H(m_fd), pos, nullptr, FILE_BEGIN);
    return result;
}

bool File::Write(const void* pbyBuff, size_t cbyBuff) {
    const char* p = static_cast<const char*>(pbyBuff);
    while (cbyBuff > 0) {
        const DWORD chunk = cbyBuff > (1u << 30) ? (1u << 30) : static_cast<DWORD>(cbyBuff);
        DWORD n = 0;
        if (!::WriteFile(H(m_fd), p, chunk, &n, nullptr)) {
            m_lastError = SysError();
            return false;
        }
        p += n;
        cbyBuff -= n;
    }
    return true;
}

bool File::Seek(int64_t offset, int origin) {
    // SEEK_SET, SEEK_CUR and SEEK_END have the values of FILE_BEGIN, FILE_CURRENT and FILE_END.
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    if (!::SetFilePointerEx(H(m_fd), distance, nullptr, static_cast<DWORD>(origin))) {
        m_lastError = SysError();
        return false;
    }
    return true;
}

std::optional<uint64_t> File::Size() const {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(H(m_fd), &size)) return std::nullopt;
    return static_cast<uint64_t>(size.QuadPart);
}

bool File::Flush() {
    if (!::FlushFileBuffers(H(m_fd))) {
        m_lastError = SysError();
        return false;
    }
    return true;
}

uint32_t File::SetModTime(FileTime time) {
    const FILETIME ft = ToFileTime(time);
    return ::SetFileTime(H(m_fd), nullptr, nullptr, &ft) ? 0 : (m_lastError = SysError());
}

// Windows has no execute permission.
uint32_t File::SetExecutable() { return 0; }

uint32_t File::SetReadOnly(bool bReadOnly) {
    // Zero times leave the times as they are; the file's other attributes are those of a file
    // just written.
    FILE_BASIC_INFO info{};
    info.FileAttributes = bReadOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
    return ::SetFileInformationByHandle(H(m_fd), FileBasicInfo, &info, sizeof info) ? 0 : (m_lastError = SysError());
}

uint32_t File::CopyPermissionsFrom(const std::wstring&) { return 0; }

void File::Close() {
    if (m_fd >= 0) ::CloseHandle(H(m_fd));
    m_fd = -1;
}

}  // namespace platform
