// Files and folders. Paths are wide text; '\' and '/' are both separators here, so portable
// code builds paths with "%s\%s". Results follow Win32: 0 or a Win32 error number (2 file not
// found, 3 path not found, 5 access denied, 183 already exists, ...).
// Linux: POSIX calls on the UTF-8 path with '\' turned into '/'. Windows: the W functions.
// Differences: Linux has no drive letters (a path starting with a separator is absolute) and
// only a read-only attribute (the owner's write bit); a missing parent folder is 2 on Linux and
// 3 on Windows; in FindFiles a leading '.' must be matched explicitly on Linux, while Windows
// also matches 8.3 short names.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "platform/errors.h"

namespace platform {

class File;
using FileTime = std::chrono::system_clock::time_point;

// The separator of the paths the updater makes, stores and shows: '/' on Linux, '\' on Windows.
// Paths read from manifests may use either.
#ifdef _WIN32
inline constexpr wchar_t kPathSeparator = L'\\';
#else
inline constexpr wchar_t kPathSeparator = L'/';
#endif

// The path with the separators of this system (Linux: every '\' becomes '/'; Windows: as is).
inline std::wstring NativeSeparators(std::wstring szPath) {
    if constexpr (kPathSeparator == L'/') {
        for (wchar_t& c : szPath)
            if (c == L'\\') c = L'/';
    }
    return szPath;
}

// szFolder, a separator and szName (its separators made native).
inline std::wstring JoinPath(const std::wstring& szFolder, const std::wstring& szName) {
    return szFolder + kPathSeparator + NativeSeparators(szName);
}

// The OS form of a path (Linux: UTF-8 with '/' separators).
std::string ToNativePath(const std::wstring& szPath);
std::wstring FromNativePath(const std::string& szPath);

bool PathExists(const std::wstring& szPath);  // file or folder
// Whether anything at all is at the path itself: a link counts, dangling or looping, and is not
// followed. False only when the lookup says nothing is there; a lookup that fails otherwise (a
// folder that cannot be searched) counts as something there.
bool EntryExists(const std::wstring& szPath);
bool IsDirectory(const std::wstring& szPath);
// 0, or 183 when something already exists there, or another error.
uint32_t CreateDirectoryOne(const std::wstring& szPath);
uint32_t RemoveDirectoryOne(const std::wstring& szPath);
uint32_t DeleteFileAt(const std::wstring& szPath);
// Moves without replacing an existing destination (80 when it exists).
uint32_t MoveFileNoReplace(const std::wstring& szFrom, const std::wstring& szTo);
// Atomically replaces szTo with szFrom (rename over it), and waits until the rename is on disk.
uint32_t ReplaceFileAtomic(const std::wstring& szFrom, const std::wstring& szTo);
// The same rename without waiting for the disk: for scratch files, or for many renames made
// durable together by SyncFolder. Fails (and moves nothing) across volumes.
uint32_t RenameReplacing(const std::wstring& szFrom, const std::wstring& szTo);
// Waits until the entries of the folder (names created, renamed, removed) are on disk
// (Windows: flushes the folder where the file system allows it; NTFS journals its entries).
uint32_t SyncFolder(const std::wstring& szFolder);
// Waits until the data of all these files is on disk (Linux: one flush per volume, which may
// write out more of that volume; Windows: one flush per file). Missing files are an error.
uint32_t FlushFiles(const std::vector<std::wstring>& paths);
std::optional<uint64_t> FileSize(const std::wstring& szPath);
std::optional<FileTime> FileModTime(const std::wstring& szPath);
uint32_t SetFileModTime(const std::wstring& szPath, FileTime time);
uint32_t SetReadOnly(const std::wstring& szPath, bool bReadOnly);
// Marks a file as a program (execute permission wherever it may be read). Windows has no such
// permission: nothing to do there.
uint32_t SetExecutable(const std::wstring& szPath);
// Gives szTo the permissions of szFrom (Linux: the mode bits; Windows: nothing to copy).
uint32_t CopyPermissions(const std::wstring& szFrom, const std::wstring& szTo);
// Names (not paths) of the entries matching a pattern whose last component may hold '*' and
// '?'; "." and ".." are never returned.
std::vector<std::wstring> FindFiles(const std::wstring& szPattern);
// Creates a new file beside szPath, exclusively, under a name nobody can predict (szPath plus a
// random suffix ending in ".tmp"); its path in *pszPath.
uint32_t CreateTempSibling(const std::wstring& szPath, File& file, std::wstring* pszPath);
// Gives the file szFrom a second name beside szNear, drawn as CreateTempSibling draws it
// (fails when the system cannot link the two, across volumes for instance).
uint32_t LinkTempSibling(const std::wstring& szFrom, const std::wstring& szNear, std::wstring* pszPath);
// A second name szNew for the existing file szExisting (never replaces anything at szNew; a
// link at szExisting is not followed).
uint32_t AddHardLink(const std::wstring& szExisting, const std::wstring& szNew);
// Removes the siblings CreateTempSibling made for szPath that a killed run left behind. Only
// for a path no other process may be writing meanwhile.
void RemoveTempSiblings(const std::wstring& szPath);
// The same for many names of one folder, which is listed once.
void RemoveTempSiblings(const std::wstring& szFolder, const std::set<std::wstring>& names);
// Removes the files of szFolder named "<name><suffix>" for any of the suffixes, whose <name> is
// not in keep and which were last written before olderThan (links removed, never followed).
void RemoveStaleFiles(const std::wstring& szFolder, const std::vector<std::wstring>& suffixes, const std::set<std::wstring>& keep,
                      FileTime olderThan);

// Below a folder the caller trusts: szBase itself may be reached through links, but no
// component of szRelative ('\\' or '/' separated; "." and empty components skipped, ".." refused
// with 161) is followed when it is a link (Windows: a reparse point); such a component fails the
// call with 681. Linux opens each folder relative to the one above it without following links;
// Windows checks each component before using it, which leaves a window between the check and
// the use. Creates every missing folder of szRelative (and szBase when missing).
uint32_t CreateFoldersBelow(const std::wstring& szBase, const std::wstring& szRelative);

// Whether a folder may hold files the updater creates and later trusts: a real folder (not a
// link; Windows: not a reparse point), owned by the user running the updater or by the
// administrator, and writable by nobody else (on Linux the user's own primary group aside)
// unless it is sticky and owned by that user.
// Windows checks the reparse point only: its per-user folders are guarded by their ACLs.
enum class FolderTrust { Trusted, Missing, NotAFolder, Link, OtherOwner, WritableByOthers };
FolderTrust CheckFolderTrust(const std::wstring& szFolder);

// Answers PathExists(szFolder + "\\" + szName) for many names of one folder, with the folder
// looked up once (Linux: opened and listed once; a listed name that is not a link is answered
// from the list, any other name is looked up relative to the folder; a name that is empty or
// starts with a separator, or a folder that cannot be opened, takes the full path; Windows:
// every name takes the full path). Changes made after the probe was made may go unseen.
class FolderProbe {
public:
    explicit FolderProbe(const std::wstring& szFolder);
    ~FolderProbe();
    FolderProbe(FolderProbe&& other) noexcept;
    FolderProbe& operator=(FolderProbe&&) = delete;
    FolderProbe(const FolderProbe&) = delete;
    FolderProbe& operator=(const FolderProbe&) = delete;

    bool Exists(const std::wstring& szName) const;

private:
    struct Listing;
    std::wstring m_folder;
    intptr_t m_fd = -1;
    std::unique_ptr<Listing> m_listing;  // Linux, when the folder could be read
};

// An open file; closed by the destructor.
class File {
public:
    // CreateNew: read-write, fails (183) when anything, a link included, is at the path.
    // ReadWriteNoLink: an existing regular file, never through a link at the path's end (5).
    enum class Mode { Read, CreateAlways, ReadWrite, CreateNew, ReadWriteNoLink };

    File() = default;
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    uint32_t Open(const std::wstring& szPath, Mode mode);
    // Creates the file szRelative below szBase for writing, as CreateFoldersBelow reaches it
    // (missing folders created). Whatever file is at the name (a read-only leftover, a link) is
    // removed first, never followed; a folder there fails with 5.
    uint32_t CreateBelow(const std::wstring& szBase, const std::wstring& szRelative);
    bool IsOpen() const { return m_fd >= 0; }
    // Bytes read (0 at end), or -1 on failure.
    int64_t Read(void* pbyBuff, size_t cbyBuff);
    // Reads at an offset without moving the position.
    int64_t ReadAt(uint64_t offset, void* pbyBuff, size_t cbyBuff);
    bool Write(const void* pbyBuff, size_t cbyBuff);
    bool Seek(int64_t offset, int origin /* SEEK_SET, SEEK_CUR, SEEK_END */);
    std::optional<uint64_t> Size() const;
    bool Flush();  // to stable storage
    // Time and permissions set through the open file, never through a path that could have
    // been swapped meanwhile (as SetFileModTime, SetExecutable and SetReadOnly).
    uint32_t SetModTime(FileTime time);
    uint32_t SetExecutable();
    uint32_t SetReadOnly(bool bReadOnly);
    // Gives the open file the permissions of szFrom (Windows: nothing to copy).
    uint32_t CopyPermissionsFrom(const std::wstring& szFrom);
    void Close();
    uint32_t LastError() const { return m_lastError; }
    // The same with the system's own number beside it, for debug lines.
    SystemError Error() const { return {m_lastError, m_systemError != 0 ? m_systemError : m_lastError}; }

private:
    // Records the outcome of a call (0: success); nSystem is the system's number when it
    // differs from nError. Returns nError.
    uint32_t SetError(uint32_t nError, int64_t nSystem = 0) {
        m_lastError = nError;
        m_systemError = nSystem;
        return nError;
    }
    intptr_t m_fd = -1;
    uint32_t m_lastError = 0;
    int64_t m_systemError = 0;
};

// Writes the bytes to a temporary sibling, flushes it and renames it over szPath.
uint32_t WriteFileAtomically(const std::wstring& szPath, std::span<const std::byte> data);
std::optional<std::vector<std::byte>> ReadWholeFile(const std::wstring& szPath);
// Whether both files can be read and hold the same bytes.
bool SameFileContents(const std::wstring& szA, const std::wstring& szB);
// Copies szFrom, with its permissions and flushed to disk, into a new file created beside
// szNear as CreateTempSibling does; its path in *pszStaged. A failed copy leaves nothing.
uint32_t CopyToTempSibling(const std::wstring& szFrom, const std::wstring& szNear, std::wstring* pszStaged);
// Replaces szTo with a flushed copy of szFrom, prepared beside it by CopyToTempSibling.
uint32_t CopyFileReplacing(const std::wstring& szFrom, const std::wstring& szTo);

}  // namespace platform
