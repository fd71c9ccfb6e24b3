// Shortcut files: a link to a program or file, and an internet shortcut to an address.
// Windows: the shell link object (IShellLinkW + IPersistFile) and the internet shortcut object
// (IUniformResourceLocatorW), saved at the given path.
// Linux: a freedesktop desktop entry written atomically at exactly the given path:
// Type=Application with the target as the quoted program of Exec= for a link, Type=Link with
// URL= for an internet shortcut; Name= is the shortcut file's name without its extension and
// Comment= the description. Every value is escaped as desktop entries require, so no target or
// description can break the entry or add keys or arguments to it.
// Both: results are HRESULTs (0 success); the folder must exist already.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

struct ShortcutInfo {
    std::wstring szTarget;       // program or file path; the address for an internet shortcut
    std::wstring szDescription;
    bool bUrl = false;
};

int32_t SaveShortcut(const std::wstring& szLinkPath, const ShortcutInfo& shortcut);

}  // namespace platform
