#include "orvo-publish/NewFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "orvo-publish/ReleaseConfig.h"

namespace publish {

void WriteNewFile(const std::string& path, std::string_view data, mode_t mode, IfExists ifExists) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd < 0 && errno == EEXIST && ifExists == IfExists::Keep) return;
    if (fd < 0) throw InputError(path + ": cannot create (" + std::strerror(errno) + ")");
    const bool ok = ::write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size()) && ::fsync(fd) == 0;
    ::close(fd);
    if (!ok) {
        ::unlink(path.c_str());
        throw InputError(path + ": cannot write");
    }
}

}  // namespace publish
