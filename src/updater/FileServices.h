// File and path services of the installation steps.
#pragma once

#include <cstdint>
#include <string>

namespace UpDater {

// True when a directory search for the path finds an entry (file or folder; wildcards allowed).
// False for paths longer than 259 characters and for a path ending in a separator.
bool FileExists(const std::wstring& szPath);
// The last component's name with its extension (works on addresses too).
std::wstring GetFileName(const std::wstring& szPath);
// The extension with its dot, e.g. ".dll"; empty when there is none.
std::wstring GetFileExt(const std::wstring& szPath);
// The file's size; 0 when it cannot be opened.
int64_t GetFileSize(const std::wstring& szPath);
// Drive and folder of the path, ending in the separator (empty when the path has no folder).
std::wstring GetFolderPath(const std::wstring& szPath);

// True when the text names one entry of a folder: not empty, no separator, no drive or stream
// colon, and not "." or "..".
bool IsSingleName(const std::wstring& szName);
// True when a component of the path is "..": such a path can name a place outside the folder
// it appears to be below.
bool HasParentComponent(const std::wstring& szPath);

}  // namespace UpDater
