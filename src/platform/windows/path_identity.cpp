#include <windows.h>

#include <string>

namespace platform {

// File names compare without case, through the system's upper-case table.
std::wstring FoldPathCase(std::wstring szPath) {
    if (!szPath.empty()) ::CharUpperBuffW(szPath.data(), static_cast<DWORD>(szPath.size()));
    return szPath;
}

}  // namespace platform
