#include "platform/fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <unordered_set>
#include <utility>
#include <vector>
#include <cerrno>
#include <cstdio>

#include "platform/linux/posix_util.h"
#include "platform/strings.h"

namespace platform {

namespace {

timespec ToTimespec(FileTime time) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count();
    timespec ts;
    ts.tv_sec = static_cast<time_t>(ns / 1000000000);
    ts.tv_nsec = static_cast<long>(ns % 1000000000);
    if (ts.tv_nsec < 0) {
        ts.tv_nsec += 1000000000;
        ts.tv_sec -= 1;
    }
    return ts;
}

}  // namespace

std::string ToNativePath(const std::wstring& szPath) {
    std::string p = ToUtf8(szPath);
    for (auto& c : p)
        if (c == '\\') c = '/';
    return p;
}

std::wstring FromNativePath(const std::string& szPath) { return FromUtf8(szPath); }

bool PathExists(const std::wstring& szPath) {
    struct stat st;
    return !szPath.empty() && ::stat(ToNativePath(szPath).c_str(), &st) == 0;
}

bool EntryExists(const std::wstring& szPath) {
    struct stat st;
    if (szPath.empty()) return false;
    return ::lstat(ToNativePath(szPath).c_str(), &st) == 0 || (errno != ENOENT && errno != ENOTDIR);
}

bool IsDirectory(const std::wstring& szPath) {
    struct stat st;
    return ::stat(ToNativePath(szPath).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The names a folder listed, and those whose answer needs a lookup (links, which may dangle,
// and entries of unknown type).
struct FolderProbe::Listing {
    std::unordered_set<std::string> present;
    std::unordered_set<std::string> lookUp;
};

namespace {
// A folder with more entries is not listed: its few names looked up cost less.
constexpr size_t kMaxListed = 1 << 16;
}  // namespace

FolderProbe::FolderProbe(const std::wstring& szFolder) : m_folder(szFolder) {
    if (szFolder.empty()) return;
    const std::string folder = ToNativePath(szFolder);
    m_fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_fd < 0) {
        // A folder that may be searched but not read: every name is looked up.
        m_fd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        return;
    }
    // One listing answers the usual many names of a folder with a few calls instead of one
    // lookup each.
    const int dup = ::fcntl(static_cast<int>(m_fd), F_DUPFD_CLOEXEC, 0);
    if (dup < 0) return;
    DIR* dir = ::fdopendir(dup);
    if (dir == nullptr) {
        ::close(dup);
        return;
    }
    auto listing = std::make_unique<Listing>();
    size_t count = 0;
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (++count > kMaxListed) break;
        const bool lookUp = entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN;
        (lookUp ? listing->lookUp : listing->present).emplace(entry->d_name);
        errno = 0;
    }
    const bool complete = errno == 0 && count <= kMaxListed;
    ::closedir(dir);
    if (complete) m_listing = std::move(listing);
}

FolderProbe::~FolderProbe() {
    if (m_fd >= 0) ::close(static_cast<int>(m_fd));
}

FolderProbe::FolderProbe(FolderProbe&& other) noexcept
    : m_folder(std::move(other.m_folder)), m_fd(std::exchange(other.m_fd, -1)), m_listing(std::move(other.m_listing)) {}

bool FolderProbe::Exists(const std::wstring& szName) const {
    if (m_fd < 0 || szName.empty() || szName[0] == L'\\' || szName[0] == L'/') return PathExists(m_folder + L"\\" + szName);
    const std::string name = ToNativePath(szName);
    if (m_listing != nullptr && name.find('/') == std::string::npos && name != "." && name != "..") {
        if (m_listing->present.count(name) != 0) return true;
        if (m_listing->lookUp.count(name) == 0) return false;
    }
    struct stat st;
    return ::fstatat(static_cast<int>(m_fd), name.c_str(), &st, 0) == 0;
}

namespace {

// The components of a relative path, "." and empty ones skipped; false when one is "..".
bool SplitRelative(const std::wstring& szRelative, std::vector<std::string>& parts) {
    const std::string rel = ToNativePath(szRelative);
    size_t start = 0;
    while (start <= rel.size()) {
        size_t end = rel.find('/', start);
        if (end == std::string::npos) end = rel.size();
        const std::string part = rel.substr(start, end - start);
        if (part == "..") return false;
        if (!part.empty() && part != ".") parts.push_back(part);
        start = end + 1;
    }
    return true;
}

// Why openat of a folder without following links failed.
uint32_t FolderOpenError(int dirfd, const std::string& name, int e) {
    struct stat st;
    if (e == ENOTDIR && ::fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
        return ERROR_STOPPED_ON_SYMLINK_;
    return TranslateSystemError(e);
}

// Opens szBase (following links, creating it when missing), then the first `count` parts
// below it without following any, creating the missing ones. A folder descriptor, or -1 with *pErr.
int OpenFoldersBelow(const std::wstring& szBase, const std::vector<std::string>& parts, size_t count, uint32_t* pErr) {
    const std::string base = ToNativePath(szBase);
    int fd = ::open(base.empty() ? "." : base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT && posix::MakeFolders(base)) fd = ::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        *pErr = TranslateSystemError(errno);
        return -1;
    }
    for (size_t i = 0; i < count; ++i) {
        const char* name = parts[i].c_str();
        int next = ::openat(fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0 && errno == ENOENT) {
            if (::mkdirat(fd, name, 0755) == 0 || errno == EEXIST)
                next = ::openat(fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (next < 0) {
            *pErr = FolderOpenError(fd, parts[i], errno);
            ::close(fd);
            return -1;
        }
        ::close(fd);
        fd = next;
    }
    return fd;
}

}  // namespace

uint32_t CreateFoldersBelow(const std::wstring& szBase, const std::wstring& szRelative) {
    std::vector<std::string> parts;
    if (!SplitRelative(szRelative, parts)) return ERROR_BAD_PATHNAME_;
    uint32_t err = 0;
    const int fd = OpenFoldersBelow(szBase, parts, parts.size(), &err);
    if (fd < 0) return err;
    ::close(fd);
    return 0;
}

uint32_t File::CreateBelow(const std::wstring& szBase, const std::wstring& szRelative) {
    Close();
    std::vector<std::string> parts;
    if (!SplitRelative(szRelative, parts) || parts.empty()) return SetError(ERROR_BAD_PATHNAME_);
    uint32_t err = 0;
    const int dirfd = OpenFoldersBelow(szBase, parts, parts.size() - 1, &err);
    if (dirfd < 0) return SetError(err);
    const char* name = parts.back().c_str();
    // Unlinking removes a link itself, and lets a read-only leftover be replaced.
    if (::unlinkat(dirfd, name, 0) != 0 && errno != ENOENT) {
        const int e = errno;
        ::close(dirfd);
        return SetError(TranslateSystemError(e), e);
    }
    const int fd = ::openat(dirfd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    const int e = errno;
    ::close(dirfd);
    if (fd < 0) return SetError(TranslateSystemError(e), e);
    m_fd = fd;
    return SetError(0);
}

FolderTrust CheckFolderTrust(const std::wstring& szFolder) {
    struct stat st;
    if (::lstat(ToNativePath(szFolder).c_str(), &st) != 0) return FolderTrust::Missing;
    if (S_ISLNK(st.st_mode)) return FolderTrust::Link;
    if (!S_ISDIR(st.st_mode)) return FolderTrust::NotAFolder;
    const uid_t me = ::geteuid();
    if (st.st_uid != me && st.st_uid != 0) return FolderTrust::OtherOwner;
    // A folder writable by the user's own primary group (user private groups, umask 002) is
    // taken as the user's; any other group or everyone counts as other users.
    const bool othersWrite = (st.st_mode & S_IWOTH) != 0 || ((st.st_mode & S_IWGRP) != 0 && st.st_gid != ::getegid());
    if (othersWrite && !((st.st_mode & S_ISVTX) != 0 && st.st_uid == me)) return FolderTrust::WritableByOthers;
    return FolderTrust::Trusted;
}

uint32_t CreateDirectoryOne(const std::wstring& szPath) {
    return ::mkdir(ToNativePath(szPath).c_str(), 0755) == 0 ? 0 : TranslateSystemError(errno);
}

uint32_t RemoveDirectoryOne(const std::wstring& szPath) {
    return ::rmdir(ToNativePath(szPath).c_str()) == 0 ? 0 : TranslateSystemError(errno);
}

uint32_t DeleteFileAt(const std::wstring& szPath) {
    const std::string p = ToNativePath(szPath);
    struct stat st;
    if (::lstat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return ERROR_ACCESS_DENIED_;
    return ::unlink(p.c_str()) == 0 ? 0 : TranslateSystemError(errno);
}

uint32_t MoveFileNoReplace(const std::wstring& szFrom, const std::wstring& szTo) {
    const std::string from = ToNativePath(szFrom), to = ToNativePath(szTo);
    // link+unlink refuses an existing destination atomically; folders fall back to a checked rename.
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return 0;
    }
    if (errno == EEXIST) return ERROR_FILE_EXISTS_;
    struct stat st;
    if (::lstat(to.c_str(), &st) == 0) return ERROR_FILE_EXISTS_;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : TranslateSystemError(errno);
}

uint32_t AddHardLink(const std::wstring& szExisting, const std::wstring& szNew) {
    return ::linkat(AT_FDCWD, ToNativePath(szExisting).c_str(), AT_FDCWD, ToNativePath(szNew).c_str(), 0) == 0 ? 0 : TranslateSystemError(errno);
}

uint32_t RenameReplacing(const std::wstring& szFrom, const std::wstring& szTo) {
    return ::rename(ToNativePath(szFrom).c_str(), ToNativePath(szTo).c_str()) == 0 ? 0 : TranslateSystemError(errno);
}

uint32_t SyncFolder(const std::wstring& szFolder) {
    const std::string dir = ToNativePath(szFolder);
    const int dfd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0) return TranslateSystemError(errno);
    const uint32_t err = ::fsync(dfd) == 0 ? 0 : TranslateSystemError(errno);
    ::close(dfd);
    return err;
}

uint32_t FlushFiles(const std::vector<std::wstring>& paths) {
    // One open file per volume is enough to flush all of that volume's dirty data at once,
    // instead of one wait per file.
    std::map<dev_t, int> volumes;
    uint32_t err = 0;
    for (const auto& path : paths) {
        const int fd = ::open(ToNativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
        struct stat st;
        if (fd < 0 || ::fstat(fd, &st) != 0) {
            err = TranslateSystemError(errno);
            if (fd >= 0) ::close(fd);
            break;
        }
        if (!volumes.emplace(st.st_dev, fd).second) ::close(fd);
    }
    for (const auto& [dev, fd] : volumes) {
        if (err == 0 && ::syncfs(fd) != 0) err = TranslateSystemError(errno);
        ::close(fd);
    }
    return err;
}

uint32_t ReplaceFileAtomic(const std::wstring& szFrom, const std::wstring& szTo) {
    if (uint32_t err = RenameReplacing(szFrom, szTo)) return err;
    // Make the rename itself durable.
    const std::string to = ToNativePath(szTo);
    const auto slash = to.find_last_of('/');
    SyncFolder(FromNativePath(slash == std::string::npos ? "." : (slash == 0 ? "/" : to.substr(0, slash))));
    return 0;
}

std::optional<uint64_t> FileSize(const std::wstring& szPath) {
    struct stat st;
    if (::stat(ToNativePath(szPath).c_str(), &st) != 0) return std::nullopt;
    return static_cast<uint64_t>(st.st_size);
}

std::optional<FileTime> FileModTime(const std::wstring& szPath) {
    struct stat st;
    if (::stat(ToNativePath(szPath).c_str(), &st) != 0) return std::nullopt;
    auto d = std::chrono::seconds(st.st_mtim.tv_sec) + std::chrono::nanoseconds(st.st_mtim.tv_nsec);
    return FileTime(std::chrono::duration_cast<FileTime::duration>(d));
}

uint32_t SetFileModTime(const std::wstring& szPath, FileTime time) {
    const timespec ts[2] = {{0, UTIME_OMIT}, ToTimespec(time)};
    return ::utimensat(AT_FDCWD, ToNativePath(szPath).c_str(), ts, 0) == 0 ? 0 : TranslateSystemError(errno);
}

uint32_t SetReadOnly(const std::wstring& szPath, bool bReadOnly) {
    const std::string p = ToNativePath(szPath);
    struct stat st;
    if (::stat(p.c_str(), &st) != 0) return TranslateSystemError(errno);
    mode_t mode = st.st_mode & 07777;
    mode = bReadOnly ? (mode & ~static_cast<mode_t>(0222)) : (mode | S_IWUSR);
    return ::chmod(p.c_str(), mode) == 0 ? 0 : TranslateSystemError(errno);
}

uint32_t SetExecutable(const std::wstring& szPath) {
    const std::string p = ToNativePath(szPath);
    struct stat st;
    if (::stat(p.c_str(), &st) != 0) return TranslateSystemError(errno);
    const mode_t mode = (st.st_mode & 07777) | ((st.st_mode & 0444) >> 2);
    return ::chmod(p.c_str(), mode) == 0 ? 0 : TranslateSystemError(errno);
}

uint32_t CopyPermissions(const std::wstring& szFrom, const std::wstring& szTo) {
    struct stat st;
    if (::stat(ToNativePath(szFrom).c_str(), &st) != 0) return TranslateSystemError(errno);
    return ::chmod(ToNativePath(szTo).c_str(), st.st_mode & 07777) == 0 ? 0 : TranslateSystemError(errno);
}

std::vector<std::wstring> FindFiles(const std::wstring& szPattern) {
    std::vector<std::wstring> out;
    const std::string pattern = ToNativePath(szPattern);
    const auto slash = pattern.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : pattern.substr(0, slash));
    const std::string name = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
    if (name.empty()) return out;
    if (name.find_first_of("*?") == std::string::npos) {
        struct stat st;
        if (::lstat(pattern.c_str(), &st) == 0 && name != "." && name != "..") out.push_back(FromUtf8(name));
        return out;
    }
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) return out;
    while (dirent* e = ::readdir(d)) {
        if (std::string_view(e->d_name) == "." || std::string_view(e->d_name) == "..") continue;
        if (::fnmatch(name.c_str(), e->d_name, FNM_PERIOD) == 0) out.push_back(FromUtf8(e->d_name));
    }
    ::closedir(d);
    return out;
}

uint32_t File::Open(const std::wstring& szPath, Mode mode) {
    Close();
    int flags = O_CLOEXEC;
    switch (mode) {
        // Non-blocking so that a pipe or device planted under a file's name cannot hold the open.
        case Mode::Read: flags |= O_RDONLY | O_NONBLOCK; break;
        case Mode::CreateAlways: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
        case Mode::ReadWrite: flags |= O_RDWR; break;
        case Mode::CreateNew: flags |= O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW; break;
        case Mode::ReadWriteNoLink: flags |= O_RDWR | O_NOFOLLOW | O_NONBLOCK; break;
    }
    const std::string p = ToNativePath(szPath);
    // Installed files are made through these names too: readable by all, as any installed file.
    int fd = ::open(p.c_str(), flags, 0644);
    if (fd < 0) return errno == ELOOP ? SetError(ERROR_ACCESS_DENIED_, errno) : SetError(TranslateSystemError(errno), errno);
    // A folder is never a file to open; only regular files are read or rewritten in place: a pipe,
    // socket or device is never a manifest, key or package.
    struct stat st;
    const bool regularOnly = mode == Mode::Read || mode == Mode::ReadWriteNoLink;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode) || (regularOnly && !S_ISREG(st.st_mode))) {
        ::close(fd);
        return SetError(ERROR_ACCESS_DENIED_);
    }
    m_fd = fd;
    return SetError(0);
}

int64_t File::Read(void* pbyBuff, size_t cbyBuff) {
    for (;;) {
        ssize_t n = ::read(static_cast<int>(m_fd), pbyBuff, cbyBuff);
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        SetError(TranslateSystemError(errno), errno);
        return -1;
    }
}

int64_t File::ReadAt(uint64_t offset, void* pbyBuff, size_t cbyBuff) {
    for (;;) {
        ssize_t n = ::pread(static_cast<int>(m_fd), pbyBuff, cbyBuff, static_cast<off_t>(offset));
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        SetError(TranslateSystemError(errno), errno);
        return -1;
    }
}

bool File::Write(const void* pbyBuff, size_t cbyBuff) {
    const char* p = static_cast<const char*>(pbyBuff);
    while (cbyBuff > 0) {
        ssize_t n = ::write(static_cast<int>(m_fd), p, cbyBuff);
        if (n < 0) {
            if (errno == EINTR) continue;
            SetError(TranslateSystemError(errno), errno);
            return false;
        }
        p += n;
        cbyBuff -= static_cast<size_t>(n);
    }
    return true;
}

bool File::Seek(int64_t offset, int origin) {
    if (::lseek(static_cast<int>(m_fd), static_cast<off_t>(offset), origin) < 0) {
        SetError(TranslateSystemError(errno), errno);
        return false;
    }
    return true;
}

std::optional<uint64_t> File::Size() const {
    struct stat st;
    if (::fstat(static_cast<int>(m_fd), &st) != 0) return std::nullopt;
    return static_cast<uint64_t>(st.st_size);
}

bool File::Flush() {
    if (::fsync(static_cast<int>(m_fd)) != 0) {
        SetError(TranslateSystemError(errno), errno);
        return false;
    }
    return true;
}

uint32_t File::SetModTime(FileTime time) {
    const timespec ts[2] = {{0, UTIME_OMIT}, ToTimespec(time)};
    return ::futimens(static_cast<int>(m_fd), ts) == 0 ? 0 : (SetError(TranslateSystemError(errno), errno));
}

uint32_t File::SetExecutable() {
    struct stat st;
    if (::fstat(static_cast<int>(m_fd), &st) != 0) return SetError(TranslateSystemError(errno), errno);
    const mode_t mode = (st.st_mode & 07777) | ((st.st_mode & 0444) >> 2);
    return ::fchmod(static_cast<int>(m_fd), mode) == 0 ? 0 : (SetError(TranslateSystemError(errno), errno));
}

uint32_t File::SetReadOnly(bool bReadOnly) {
    struct stat st;
    if (::fstat(static_cast<int>(m_fd), &st) != 0) return SetError(TranslateSystemError(errno), errno);
    mode_t mode = st.st_mode & 07777;
    mode = bReadOnly ? (mode & ~static_cast<mode_t>(0222)) : (mode | S_IWUSR);
    return ::fchmod(static_cast<int>(m_fd), mode) == 0 ? 0 : (SetError(TranslateSystemError(errno), errno));
}

uint32_t File::CopyPermissionsFrom(const std::wstring& szFrom) {
    struct stat st;
    if (::stat(ToNativePath(szFrom).c_str(), &st) != 0) return SetError(TranslateSystemError(errno), errno);
    return ::fchmod(static_cast<int>(m_fd), st.st_mode & 07777) == 0 ? 0 : (SetError(TranslateSystemError(errno), errno));
}

void File::Close() {
    if (m_fd >= 0) ::close(static_cast<int>(m_fd));
    m_fd = -1;
}

}  // namespace platform
