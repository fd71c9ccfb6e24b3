#include "platform/folders.h"

#include <elf.h>
#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/fs.h"
#include "platform/linux/posix_util.h"
#include "platform/strings.h"

#ifndef ORVO_PRIVATE_LIBDIR
#define ORVO_PRIVATE_LIBDIR "lib/OrvoUpdaterService"
#endif

namespace platform {

namespace {

// The XDG folder when its variable is absolute, else the folder below the home; nullopt when
// neither is usable.
std::optional<std::string> XdgOr(const char* name, const char* belowHome) {
    if (auto v = posix::AbsoluteEnv(name)) return v;
    if (auto home = posix::HomeFolder()) return (*home == "/" ? std::string() : *home) + belowHome;
    return std::nullopt;
}

std::string StripTrailingSlashes(std::string p) {
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

}  // namespace

std::optional<std::wstring> GetSpecialFolderPath(int nCSIDL, bool bCreate) {
    std::optional<std::string> found;
    switch (nCSIDL) {
        case CSIDL_PERSONAL: found = XdgOr("XDG_DOCUMENTS_DIR", "/Documents"); break;
        case CSIDL_APPDATA: found = XdgOr("XDG_DATA_HOME", "/.local/share"); break;
        case CSIDL_SYSTEM: found = posix::SysRoot() + "/usr/local/lib"; break;
        case CSIDL_COMMON_PROGRAMS: found = posix::SysRoot() + "/usr/local/share/applications"; break;
        case CSIDL_PROGRAM_FILES: found = posix::SysRoot() + "/opt"; break;
        default: return std::nullopt;
    }
    if (!found) return std::nullopt;
    const std::string path = StripTrailingSlashes(*found);
    if (bCreate ? !posix::MakeFolders(path) : !IsDirectory(FromUtf8(path))) return std::nullopt;
    return FromUtf8(path);
}

std::optional<std::wstring> GetLocalAppDataLowFolder() {
    const auto found = XdgOr("XDG_CACHE_HOME", "/.cache");
    if (!found) return std::nullopt;
    const std::string path = StripTrailingSlashes(*found);
    if (!posix::MakeFolders(path)) return std::nullopt;
    return FromUtf8(path);
}

std::optional<std::wstring> PerUserFolderProblem() {
    if (posix::HomeFolder()) return std::nullopt;
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') return std::wstring(L"HOME is not set: the updater needs the user's home folder");
    return L"HOME is not an absolute path (" + FromUtf8(home) + L"): the updater needs the user's home folder";
}

std::optional<std::wstring> GetModuleFilePath() {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return std::nullopt;
    return FromUtf8(std::string(buf, static_cast<size_t>(n)));
}

namespace {

// The folder with links and "." or ".." resolved; nullopt when it does not exist.
std::optional<std::string> RealFolder(const std::string& path) {
    char buf[PATH_MAX];
    if (path.empty() || ::realpath(path.c_str(), buf) == nullptr) return std::nullopt;
    return std::string(buf);
}

bool IsAtOrBelow(const std::string& path, const std::string& folder) {
    return path == folder || (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
                              path[folder.size()] == '/');
}

std::string ParentFolder(const std::string& path) {
    const size_t sep = path.find_last_of('/');
    return sep == std::string::npos || sep == 0 ? std::string("/") : path.substr(0, sep);
}

}  // namespace

bool IsSystemFolder(const std::wstring& szFolder) {
    const std::string native = ToNativePath(szFolder);
    // A folder this user cannot write (or that is not there) cannot hold what the updater writes.
    if (native.empty() || ::faccessat(AT_FDCWD, native.c_str(), W_OK, AT_EACCESS) != 0) return true;
    const auto real = RealFolder(native);
    if (!real) return true;
    if (IsAtOrBelow(*real, "/usr")) return true;
    const std::string sysroot = posix::SysRoot();
    if (sysroot.empty()) return false;
    const auto usr = RealFolder(sysroot + "/usr");
    return usr && IsAtOrBelow(*real, *usr);
}

std::optional<std::wstring> GetMachineKeysFolder() {
    return FromUtf8(posix::SysRoot() + "/etc/OrvoUpdaterService/trusted-keys.d");
}

std::optional<std::wstring> GetUserStateFolder() {
    const auto found = XdgOr("XDG_STATE_HOME", "/.local/state");
    if (!found) return std::nullopt;
    return FromUtf8(StripTrailingSlashes(*found));
}

std::wstring GetPrivateModuleFolder() {
    const auto exe = GetModuleFilePath();
    if (!exe) return {};
    const std::string folder = ParentFolder(ToUtf8(*exe));
    if (IsSystemFolder(FromUtf8(folder))) {
        // Installed as <prefix>/bin/OrvoUpdaterService beside <prefix>/lib/<multiarch>/...
        const std::string prefix = ParentFolder(folder);
        const std::string lib = (prefix == "/" ? std::string() : prefix) + "/" ORVO_PRIVATE_LIBDIR;
        if (IsDirectory(FromUtf8(lib))) return FromUtf8(lib);
    }
    return FromUtf8(folder);
}

std::optional<OsVersionInfo> QueryOsVersion() { return OsVersionInfo{VER_PLATFORM_WIN32_NT, 10, 0}; }

std::optional<FixedFileInfo> ReadFixedFileInfo(const std::wstring& szPath, uint32_t& nLastError) {
    nLastError = 0;
    File file;
    if (uint32_t err = file.Open(szPath, File::Mode::Read)) {
        nLastError = err;
        return std::nullopt;
    }
    Elf64_Ehdr eh;
    if (file.ReadAt(0, &eh, sizeof eh) != static_cast<int64_t>(sizeof eh) || std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 ||
        eh.e_ident[EI_CLASS] != ELFCLASS64 || eh.e_shentsize != sizeof(Elf64_Shdr) || eh.e_shnum == 0 ||
        eh.e_shstrndx >= eh.e_shnum || eh.e_shnum > 4096) {
        return std::nullopt;  // not an executable with sections: no version block
    }
    std::vector<Elf64_Shdr> sh(eh.e_shnum);
    const auto shBytes = static_cast<int64_t>(sh.size() * sizeof(Elf64_Shdr));
    if (file.ReadAt(eh.e_shoff, sh.data(), static_cast<size_t>(shBytes)) != shBytes) return std::nullopt;
    const Elf64_Shdr& strtab = sh[eh.e_shstrndx];
    if (strtab.sh_size > (1u << 20)) return std::nullopt;
    std::vector<char> names(strtab.sh_size + 1, '\0');
    if (file.ReadAt(strtab.sh_offset, names.data(), strtab.sh_size) != static_cast<int64_t>(strtab.sh_size))
        return std::nullopt;
    static const char kSection[] = ".note.orvo.version";
    static const char kOwner[] = "OrvoVersion";  // note owner name, NUL included in namesz
    for (const auto& s : sh) {
        if (s.sh_name >= strtab.sh_size || std::strcmp(&names[s.sh_name], kSection) != 0) continue;
        struct {
            Elf64_Nhdr hdr;
            char name[12];
            std::byte desc[kFixedFileInfoSize];
        } note;
        if (s.sh_size < sizeof note || file.ReadAt(s.sh_offset, &note, sizeof note) != static_cast<int64_t>(sizeof note))
            return std::nullopt;
        if (note.hdr.n_namesz != sizeof kOwner || std::memcmp(note.name, kOwner, sizeof kOwner) != 0 ||
            note.hdr.n_descsz != kFixedFileInfoSize)
            return std::nullopt;
        FixedFileInfo out;
        std::memcpy(out.data(), note.desc, out.size());
        return out;
    }
    return std::nullopt;
}

}  // namespace platform
