// What the Linux-side drivers of the Windows program need: the Windows build, Wine and the
// paths as Windows programs in the prefix see them.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <string>

namespace orvo::test::wine {

// The Windows build tree (scripts/wine-tests sets ORVO_WINDOWS_BUILD); empty without one.
inline std::string WindowsBuild() {
    const char* b = std::getenv("ORVO_WINDOWS_BUILD");
    return b != nullptr ? b : "";
}

inline std::string Wine() { return ::access("/usr/lib/wine/wine64", X_OK) == 0 ? "/usr/lib/wine/wine64" : "wine"; }

// The path as Windows programs in the prefix see it (drive Z: is the Linux root).
inline std::string WinPath(std::string path) {
    for (auto& c : path)
        if (c == '/') c = '\\';
    return "Z:" + path;
}

inline std::string Quoted(const std::string& s) { return "'" + s + "'"; }

}  // namespace orvo::test::wine
