// Special folders, the running module, the OS version and a file's fixed version block.
// Linux stand-ins (XDG): CSIDL_PERSONAL -> the documents folder (XDG_DOCUMENTS_DIR, else
// ~/Documents), CSIDL_APPDATA -> $XDG_DATA_HOME, LocalAppDataLow -> $XDG_CACHE_HOME,
// CSIDL_PROGRAM_FILES -> /opt, CSIDL_SYSTEM -> /usr/local/lib, CSIDL_COMMON_PROGRAMS ->
// /usr/local/share/applications; the machine-wide ones live under $ORVO_SYSROOT when it is set.
// Linux reports an NT-family system of version 10.0. The version block of a Linux executable is
// the ELF note "OrvoVersion" (section .note.orvo.version) holding the same 52-byte fixed block
// as a Windows version resource; the updater's build embeds one. Windows: the shell's folders
// (SHGetSpecialFolderPathW, FOLDERID_LocalAppDataLow), with CSIDL_PROGRAM_FILES answered by the
// x86 Program Files folder whatever the build's architecture (where 32-bit installs live), GetVersionExW (Windows 8.1 and later report
// 6.2 to a program without a compatibility manifest) and the executable's version resource.
// A shared installation (IsSystemFolder): Linux counts a folder below /usr (or $ORVO_SYSROOT/usr)
// or one the running user cannot write; Windows counts a folder below either Program Files
// folder. Its machine key folder is $ORVO_SYSROOT/etc/OrvoUpdaterService/trusted-keys.d on
// Linux, %ProgramData%\OrvoUpdaterService\trusted-keys.d on Windows; the user's state folder
// is $XDG_STATE_HOME (~/.local/state) on Linux, %LOCALAPPDATA% on Windows.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

inline constexpr int CSIDL_PERSONAL = 5;
inline constexpr int CSIDL_COMMON_PROGRAMS = 23;
inline constexpr int CSIDL_APPDATA = 26;
inline constexpr int CSIDL_SYSTEM = 37;
inline constexpr int CSIDL_PROGRAM_FILES = 38;

// The folder without a trailing separator; created when bCreate and missing. nullopt on failure.
std::optional<std::wstring> GetSpecialFolderPath(int nCSIDL, bool bCreate);
// The per-user low-integrity local data folder; nullopt when the system has none.
std::optional<std::wstring> GetLocalAppDataLowFolder();
// Why the per-user folders cannot be found, in words for a person; nullopt when they can.
// Linux: HOME unset or not an absolute path (XDG variables and ORVO_SYSROOT that are not absolute
// are ignored everywhere). Windows: always nullopt (the shell knows the folders).
std::optional<std::wstring> PerUserFolderProblem();
// Full path of the running executable.
std::optional<std::wstring> GetModuleFilePath();

// Whether an updater whose executable is in szFolder is a shared installation of the system
// rather than a copy in a vendor's application folder: such an updater keeps nothing of its own
// beside itself.
bool IsSystemFolder(const std::wstring& szFolder);
// The machine-wide folder of trusted key files (one per vendor, *.pub); nullopt when the system
// cannot name it. Not created.
std::optional<std::wstring> GetMachineKeysFolder();
// The per-user folder for state that outlives a run (crash dumps, say); nullopt when there is
// none. Not created.
std::optional<std::wstring> GetUserStateFolder();
// Where the updater's own loadable modules are: for a shared installation below /usr its private
// library folder (<prefix>/lib/<multiarch>/OrvoUpdaterService) when that exists, otherwise the
// executable's own folder (always on Windows). Empty when the executable cannot be found.
std::wstring GetPrivateModuleFolder();

inline constexpr uint32_t VER_PLATFORM_WIN32_WINDOWS = 1;
inline constexpr uint32_t VER_PLATFORM_WIN32_NT = 2;
struct OsVersionInfo {
    uint32_t platformId;
    uint32_t major;
    uint32_t minor;
};
std::optional<OsVersionInfo> QueryOsVersion();

inline constexpr size_t kFixedFileInfoSize = 52;
inline constexpr uint32_t kFixedFileInfoSignature = 0xFEEF04BD;
using FixedFileInfo = std::array<std::byte, kFixedFileInfoSize>;
// The file's fixed version block, or nullopt with a Win32 error in nLastError (0 when the
// file simply has no version block).
std::optional<FixedFileInfo> ReadFixedFileInfo(const std::wstring& szPath, uint32_t& nLastError);

}  // namespace platform
