#include "platform/linux/posix_util.h"

#include <sys/stat.h>

#include <cerrno>

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

}  // namespace platform::posix
