// Helpers shared by the Linux backends only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform::posix {

// mkdir -p on a native path; true when every folder along it exists afterwards.
bool MakeFolders(const std::string& path);

// The value of an environment variable naming a folder, without trailing '/'; nullopt when it is
// unset, empty or not an absolute path (a relative one would depend on the working folder, and
// the XDG rules say to ignore it).
std::optional<std::string> AbsoluteEnv(const char* name);
// $HOME by the same rule: nullopt when there is no usable home folder.
std::optional<std::string> HomeFolder();
// $ORVO_SYSROOT by the same rule; empty (the real root) when unset or not absolute.
std::string SysRoot();

// The seam's error number for a SQLite result (a busy or damaged registry store has its own),
// using the file system's errno where SQLite only says that the file failed.
uint32_t TranslateSqliteError(int nResult, int nSystemErrno);

}  // namespace platform::posix
