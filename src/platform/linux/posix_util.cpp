#include "platform/linux/posix_util.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

namespace platform::posix {

bool MakeFolders(const std::string& path) {
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            if (::mkdir(path.substr(0, i).c_str(), 0755) != 0 && errno != EEXIST) return false;
        }
    }
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<std::string> AbsoluteEnv(const char* name) {
    const char* v = std::getenv(name);
    if (v == nullptr || *v != '/') return std::nullopt;
    std::string path = v;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::optional<std::string> HomeFolder() { return AbsoluteEnv("HOME"); }

std::string SysRoot() {
    std::string root = AbsoluteEnv("ORVO_SYSROOT").value_or("");
    return root == "/" ? std::string() : root;
}

}  // namespace platform::posix
