#include "platform/process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/fs.h"
#include "platform/linux/posix_util.h"
#include "platform/debug.h"
#include "platform/strings.h"
#include "platform/terminal.h"

extern char** environ;

namespace platform {

namespace {

// Says why a lock location was refused, for the user and the debug output.
void ReportLockFolder(const std::string& szLine) {
    OutputDebug(FromUtf8("[VUSVC] " + szLine + "\n"));
    WriteStderr("warning: " + szLine + "\n");
}

// Opens a folder that only this user may enter, creating it (mode 0700) when missing; never
// through a link. -1 (with the reason in *why) when it is a link, not a folder, not owned by the
// user or open to others: another user could then plant or hold the lock there.
int OpenPrivateFolder(const std::string& path, std::string* why) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        *why = std::strerror(errno);
        return -1;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        *why = errno == ELOOP || errno == ENOTDIR ? "it is a link or not a folder" : std::strerror(errno);
        return -1;
    }
    struct stat st;
    const bool stated = ::fstat(fd, &st) == 0;
    // A folder of ours that others could only read (made by an earlier version) is closed up.
    if (stated && st.st_uid == ::geteuid() && (st.st_mode & 022) == 0 && (st.st_mode & 077) != 0 && ::fchmod(fd, 0700) == 0)
        st.st_mode &= ~static_cast<mode_t>(077);
    if (!stated || st.st_uid != ::geteuid() || (st.st_mode & 077) != 0) {
        char text[96];
        if (!stated)
            std::snprintf(text, sizeof text, "%s", std::strerror(errno));
        else if (st.st_uid != ::geteuid())
            std::snprintf(text, sizeof text, "it belongs to user %u", static_cast<unsigned>(st.st_uid));
        else
            std::snprintf(text, sizeof text, "other users may enter it (mode %03o)", static_cast<unsigned>(st.st_mode & 0777));
        *why = text;
        ::close(fd);
        return -1;
    }
    return fd;
}

// The first usable lock folder: the runtime folder, else a per-user folder in the temporary
// folder, else one in the user's cache. -1 when none is usable.
int OpenLockFolder() {
    std::vector<std::string> candidates;
    if (auto run = posix::AbsoluteEnv("XDG_RUNTIME_DIR")) candidates.push_back(*run + "/orvo");
    candidates.push_back(posix::AbsoluteEnv("TMPDIR").value_or("/tmp") + "/orvo-" + std::to_string(::geteuid()));
    if (auto cache = posix::AbsoluteEnv("XDG_CACHE_HOME")) {
        candidates.push_back(*cache + "/orvo-locks");
    } else if (auto home = posix::HomeFolder()) {
        candidates.push_back(*home + "/.cache/orvo-locks");
    }
    for (size_t i = 0; i < candidates.size(); ++i) {
        const std::string parent = candidates[i].substr(0, candidates[i].find_last_of('/'));
        if (!parent.empty()) posix::MakeFolders(parent);
        std::string why;
        const int fd = OpenPrivateFolder(candidates[i], &why);
        if (fd >= 0) return fd;
        ReportLockFolder("lock folder " + candidates[i] + " refused: " + why);
    }
    return -1;
}

constexpr intptr_t SE_ERR_FNF_ = 2;
constexpr intptr_t SE_ERR_NOASSOC_ = 31;

}  // namespace

MutexCreateResult CreateNamedMutex(const std::wstring& szName) {
    const int folder = OpenLockFolder();
    if (folder < 0) return {0, ERROR_ACCESS_DENIED_};
    char hex[17];
    const uint64_t h = Fnv1a64(ToUtf8(szName));
    for (int i = 0; i < 16; ++i) hex[i] = "0123456789abcdef"[(h >> (60 - 4 * i)) & 0xF];
    hex[16] = '\0';
    const std::string name = std::string("mutex-") + hex + ".lock";
    // O_CLOEXEC: a launched target must never inherit (and so prolong) the lock. O_NOFOLLOW: a
    // planted link must not make us create or lock a file elsewhere.
    const int fd = ::openat(folder, name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    const int err = errno;
    ::close(folder);
    if (fd < 0) {
        ReportLockFolder("lock file " + name + " cannot be opened: " + std::strerror(err));
        // A link is refused as another user's lock would be.
        return {0, err == ELOOP ? ERROR_ACCESS_DENIED_ : TranslateSystemError(err)};
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        ReportLockFolder("lock file " + name + " refused: it is not a file of this user");
        ::close(fd);
        return {0, ERROR_ACCESS_DENIED_};
    }
    // Handles are fd + 1 so that descriptor 0 is not mistaken for "no handle".
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return {fd + 1, ERROR_ALREADY_EXISTS_};
    return {fd + 1, 0};
}

void CloseMutexHandle(intptr_t hMutex) {
    if (hMutex > 0) ::close(static_cast<int>(hMutex - 1));
}

LaunchResult ShellOpen(const std::wstring& szFile, const std::wstring& szParams, int /*nShowCmd*/) {
    const std::string file = ToNativePath(szFile);
    struct stat st;
    if (::stat(file.c_str(), &st) != 0) return {SE_ERR_FNF_, TranslateSystemError(errno), errno};
    if (S_ISDIR(st.st_mode) || ::access(file.c_str(), X_OK) != 0) return {SE_ERR_NOASSOC_, ERROR_NO_ASSOCIATION_};
    std::vector<std::string> args{file};
    for (const auto& a : SplitCommandLineArgs(szParams)) args.push_back(ToUtf8(a));
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // The target lives on after the updater; give it its own process group.
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    const int rc = ::posix_spawn(&pid, file.c_str(), nullptr, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        const uint32_t err = TranslateSystemError(rc);
        // ShellExecute's own small numbers: a bad program file is ERROR_BAD_FORMAT (11).
        const intptr_t instance = err == ERROR_BAD_EXE_FORMAT_ ? 11 : err <= 32 ? static_cast<intptr_t>(err) : 0;
        return {instance, err, rc};
    }
    return {42, 0};
}

uint32_t CurrentProcessId() { return static_cast<uint32_t>(::getpid()); }

int32_t RefreshElevationPolicy() { return static_cast<int32_t>(0x8007007Eu); }

}  // namespace platform
