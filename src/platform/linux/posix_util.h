// Helpers shared by the Linux backends only.
#pragma once

#include <string>

namespace platform::posix {

// mkdir -p on a native path; true when every folder along it exists afterwards.
bool MakeFolders(const std::string& path);

}  // namespace platform::posix
