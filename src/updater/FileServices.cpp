#include "updater/FileServices.h"

#include "platform/fs.h"

namespace UpDater {

namespace {

constexpr size_t kMaxFindPath = 259;

struct SplitPath {
    std::wstring drive, dir, name, ext;
};

// Drive ("X:"), folder (up to and with the last separator), name, and extension (from the
// name's last dot), like the system's path splitter.
SplitPath Split(const std::wstring& szPath) {
    SplitPath out;
    std::wstring rest = szPath;
    if (rest.size() >= 2 && rest[1] == L':') {
        out.drive = rest.substr(0, 2);
        rest.erase(0, 2);
    }
    const auto slash = rest.find_last_of(L"\\/");
    if (slash != std::wstring::npos) {
        out.dir = rest.substr(0, slash + 1);
        rest.erase(0, slash + 1);
    }
    const auto dot = rest.find_last_of(L'.');
    if (dot != std::wstring::npos) {
        out.ext = rest.substr(dot);
        rest.erase(dot);
    }
    out.name = rest;
    return out;
}

}  // namespace

bool FileExists(const std::wstring& szPath) {
    if (szPath.empty() || szPath.size() > kMaxFindPath) return false;
    if (szPath.back() == L'\\' || szPath.back() == L'/') return false;
    return !platform::FindFiles(szPath).empty();
}

std::wstring GetFileName(const std::wstring& szPath) {
    const SplitPath p = Split(szPath);
    return p.name + p.ext;
}

std::wstring GetFileExt(const std::wstring& szPath) { return Split(szPath).ext; }

int64_t GetFileSize(const std::wstring& szPath) {
    platform::File file;
    if (file.Open(szPath, platform::File::Mode::Read) != 0) return 0;
    const auto size = file.Size();
    return size ? static_cast<int64_t>(*size) : 0;
}

std::wstring GetFolderPath(const std::wstring& szPath) {
    const SplitPath p = Split(szPath);
    return p.drive + p.dir;
}

bool IsSingleName(const std::wstring& szName) {
    return !szName.empty() && szName != L"." && szName != L".." && szName.find_first_of(L"\\/:") == std::wstring::npos;
}

bool HasParentComponent(const std::wstring& szPath) {
    size_t start = 0;
    for (;;) {
        const size_t end = szPath.find_first_of(L"\\/", start);
        if (szPath.compare(start, end == std::wstring::npos ? std::wstring::npos : end - start, L"..") == 0) return true;
        if (end == std::wstring::npos) return false;
        start = end + 1;
    }
}

}  // namespace UpDater
