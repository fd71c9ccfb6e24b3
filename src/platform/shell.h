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

// Refuses a path without the platform's shortcut extension (E_INVALIDARG) and never replaces a
// file that is not a shortcut (0x80070050, file exists).
int32_t SaveShortcut(const std::wstring& szLinkPath, const ShortcutInfo& shortcut);

// Whether the path carries the platform's shortcut extension: ".desktop" on Linux; ".lnk" for a
// link and ".url" for an internet shortcut on Windows (letter case ignored there).
bool IsShortcutPath(const std::wstring& szLinkPath, bool bUrl);
// Whether a file is there that a shortcut may replace or the clean-up may delete: a regular
// file with the extension whose content is a shortcut (a desktop entry on Linux; a shell link
// or internet shortcut on Windows).
bool IsShortcutFile(const std::wstring& szLinkPath, bool bUrl);

}  // namespace platform
