#include "platform/process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/fs.h"
#include "platform/linux/posix_util.h"
#include "platform/strings.h"

extern char** environ;

namespace platform {

namespace {

uint64_t Fnv1a(const std::string& text) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

std::string LockFolder() {
    const char* run = std::getenv("XDG_RUNTIME_DIR");
    if (run != nullptr && *run == '/') return std::string(run) + "/orvo";
    return "/tmp/orvo-" + std::to_string(::getuid());
}

constexpr intptr_t SE_ERR_FNF_ = 2;
constexpr intptr_t SE_ERR_ACCESSDENIED_ = 5;
constexpr intptr_t SE_ERR_NOASSOC_ = 31;

}  // namespace

MutexCreateResult CreateNamedMutex(const std::wstring& szName) {
    const std::string folder = LockFolder();
    if (!posix::MakeFolders(folder)) return {0, ERROR_ACCESS_DENIED_};
    char hex[17];
    const uint64_t h = Fnv1a(ToUtf8(szName));
    for (int i = 0; i < 16; ++i) hex[i] = "0123456789abcdef"[(h >> (60 - 4 * i)) & 0xF];
    hex[16] = '\0';
    const std::string path = folder + "/mutex-" + hex + ".lock";
    // O_CLOEXEC: a launched target must never inherit (and so prolong) the lock.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return {0, errno == EACCES ? ERROR_ACCESS_DENIED_ : ERROR_PATH_NOT_FOUND_};
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
    if (::stat(file.c_str(), &st) != 0) return {SE_ERR_FNF_, ERROR_FILE_NOT_FOUND_};
    if (S_ISDIR(st.st_mode) || ::access(file.c_str(), X_OK) != 0) return {SE_ERR_NOASSOC_, 1155};  // no association
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
    if (rc != 0) return {rc == EACCES ? SE_ERR_ACCESSDENIED_ : SE_ERR_FNF_, rc == EACCES ? ERROR_ACCESS_DENIED_ : ERROR_FILE_NOT_FOUND_};
    return {42, 0};
}

int32_t RefreshElevationPolicy() { return static_cast<int32_t>(0x8007007Eu); }

}  // namespace platform
