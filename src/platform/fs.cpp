#include "platform/fs.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <random>

#include "platform/process.h"
#include "platform/strings.h"

namespace platform {

namespace {

// Draws names "<szPath>.orvo-<16 hex>.tmp" until create(name) makes one that did not exist.
template <class Create>
uint32_t WithFreshSiblingName(const std::wstring& szPath, std::wstring* pszPath, Create create) {
    std::random_device rd;
    for (int attempt = 0;; ++attempt) {
        const uint64_t r = (static_cast<uint64_t>(rd()) << 32) | rd();
        const std::wstring candidate = FormatW(L"%s.orvo-%08x%08x.tmp", szPath, static_cast<unsigned>(r >> 32),
                                               static_cast<unsigned>(r & 0xFFFFFFFFu));
        const uint32_t err = create(candidate);
        if (err == 0) {
            if (pszPath != nullptr) *pszPath = candidate;
            return 0;
        }
        // Only a name taken meanwhile is worth another draw.
        if ((err != ERROR_ALREADY_EXISTS_ && err != ERROR_FILE_EXISTS_) || attempt == 16) return err;
    }
}

}  // namespace

uint32_t CreateTempSibling(const std::wstring& szPath, File& file, std::wstring* pszPath) {
    return WithFreshSiblingName(szPath, pszPath, [&file](const std::wstring& candidate) { return file.Open(candidate, File::Mode::CreateNew); });
}

uint32_t LinkTempSibling(const std::wstring& szFrom, const std::wstring& szNear, std::wstring* pszPath) {
    return WithFreshSiblingName(szNear, pszPath, [&szFrom](const std::wstring& candidate) { return AddHardLink(szFrom, candidate); });
}

namespace {

std::wstring WithSeparator(const std::wstring& szFolder) {
    return szFolder.empty() || szFolder.back() == L'\\' || szFolder.back() == L'/' ? szFolder : szFolder + L"\\";
}

// Calls visit with each name of the folder that "*<szPattern>" matches and that ends in szSuffix
// (Windows also matches short names), names starting with a dot included when bDotted: a pattern
// never holds a name itself, whose own '[' or '*' would match other names, and a leading dot has
// to be matched by the pattern's own.
template <class Visit>
void ForEachNameEndingIn(const std::wstring& szFolder, const std::wstring& szPattern, const std::wstring& szSuffix, bool bDotted,
                         Visit visit) {
    for (const wchar_t* lead : {L"*", L".*"}) {
        if (lead[0] == L'.' && !bDotted) break;
        for (const std::wstring& name : FindFiles(szFolder + lead + szPattern))
            if (name.size() > szSuffix.size() && name.compare(name.size() - szSuffix.size(), szSuffix.size(), szSuffix) == 0)
                visit(name);
    }
}

}  // namespace

void RemoveTempSiblings(const std::wstring& szFolder, const std::set<std::wstring>& names) {
    if (names.empty()) return;
    const std::wstring folder = WithSeparator(szFolder);
    const std::wstring infix = L".orvo-", suffix = L".tmp";
    const size_t extra = infix.size() + 16 + suffix.size();
    const bool dotted = std::any_of(names.begin(), names.end(), [](const std::wstring& n) { return !n.empty() && n[0] == L'.'; });
    ForEachNameEndingIn(folder, infix + L"*" + suffix, suffix, dotted, [&](const std::wstring& name) {
        if (name.size() <= extra) return;
        const size_t at = name.size() - extra;
        if (name.compare(at, infix.size(), infix) != 0) return;
        const std::wstring_view hex(name.data() + at + infix.size(), 16);
        if (hex.find_first_not_of(L"0123456789abcdef") != std::wstring_view::npos) return;
        if (names.count(name.substr(0, at)) != 0) DeleteFileAt(folder + name);
    });
}

void RemoveStaleFiles(const std::wstring& szFolder, const std::vector<std::wstring>& suffixes, const std::set<std::wstring>& keep,
                      FileTime olderThan) {
    const std::wstring folder = WithSeparator(szFolder);
    for (const std::wstring& suffix : suffixes) {
        ForEachNameEndingIn(folder, suffix, suffix, true, [&](const std::wstring& name) {
            if (keep.count(name.substr(0, name.size() - suffix.size())) != 0) return;
            const auto modified = FileModTime(folder + name);
            if (modified && *modified < olderThan) DeleteFileAt(folder + name);
        });
    }
}

void RemoveTempSiblings(const std::wstring& szPath) {
    const size_t slash = szPath.find_last_of(L"\\/");
    if (slash == std::wstring::npos || slash + 1 == szPath.size()) return;
    RemoveTempSiblings(szPath.substr(0, slash + 1), {szPath.substr(slash + 1)});
}

File::~File() { Close(); }

File::File(File&& other) noexcept : m_fd(other.m_fd), m_lastError(other.m_lastError), m_systemError(other.m_systemError) {
    other.m_fd = -1;
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        m_fd = other.m_fd;
        m_lastError = other.m_lastError;
        m_systemError = other.m_systemError;
        other.m_fd = -1;
    }
    return *this;
}

uint32_t WriteFileAtomically(const std::wstring& szPath, std::span<const std::byte> data) {
    std::wstring temp;
    File file;
    if (uint32_t err = CreateTempSibling(szPath, file, &temp)) return err;
    if (!file.Write(data.data(), data.size()) || !file.Flush()) {
        const uint32_t err = file.LastError();
        file.Close();
        DeleteFileAt(temp);
        return err;
    }
    file.Close();
    if (uint32_t err = ReplaceFileAtomic(temp, szPath)) {
        DeleteFileAt(temp);
        return err;
    }
    return 0;
}

std::optional<std::vector<std::byte>> ReadWholeFile(const std::wstring& szPath) {
    File file;
    if (file.Open(szPath, File::Mode::Read) != 0) return std::nullopt;
    std::vector<std::byte> out;
    std::byte buf[65536];
    for (;;) {
        const int64_t n = file.Read(buf, sizeof buf);
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        out.insert(out.end(), buf, buf + n);
    }
    return out;
}

bool SameFileContents(const std::wstring& szA, const std::wstring& szB) {
    File a, b;
    if (a.Open(szA, File::Mode::Read) != 0 || b.Open(szB, File::Mode::Read) != 0) return false;
    const auto nA = a.Size(), nB = b.Size();
    if (!nA || !nB || *nA != *nB) return false;
    constexpr size_t kBuf = 1 << 14;  // two small buffers: few fresh pages on the road of every start
    const auto bufA = std::make_unique_for_overwrite<std::byte[]>(kBuf);
    const auto bufB = std::make_unique_for_overwrite<std::byte[]>(kBuf);
    for (;;) {
        const int64_t n = a.Read(bufA.get(), kBuf);
        if (n < 0) return false;
        // Short reads on either side are filled up before comparing.
        int64_t m = 0;
        while (m < n) {
            const int64_t r = b.Read(bufB.get() + m, static_cast<size_t>(n - m));
            if (r <= 0) return false;
            m += r;
        }
        if (n == 0) {
            std::byte extra;
            return b.Read(&extra, 1) == 0;
        }
        if (std::memcmp(bufA.get(), bufB.get(), static_cast<size_t>(n)) != 0) return false;
    }
}

uint32_t CopyToTempSibling(const std::wstring& szFrom, const std::wstring& szNear, std::wstring* pszStaged) {
    File in;
    if (uint32_t err = in.Open(szFrom, File::Mode::Read)) return err;
    File out;
    std::wstring staged;
    if (uint32_t err = CreateTempSibling(szNear, out, &staged)) return err;
    constexpr size_t kBuf = 1 << 20;
    const auto buf = std::make_unique_for_overwrite<std::byte[]>(kBuf);
    uint32_t err = 0;
    for (;;) {
        const int64_t n = in.Read(buf.get(), kBuf);
        if (n < 0) {
            err = in.LastError();
            break;
        }
        if (n == 0) {
            // Permissions through the open file: its name could be swapped meanwhile.
            err = out.CopyPermissionsFrom(szFrom);
            if (err == 0 && !out.Flush()) err = out.LastError();
            break;
        }
        if (!out.Write(buf.get(), static_cast<size_t>(n))) {
            err = out.LastError();
            break;
        }
    }
    out.Close();
    if (err != 0) {
        DeleteFileAt(staged);
        return err;
    }
    *pszStaged = staged;
    return 0;
}

uint32_t CopyFileReplacing(const std::wstring& szFrom, const std::wstring& szTo) {
    std::wstring staged;
    if (uint32_t err = CopyToTempSibling(szFrom, szTo, &staged)) return err;
    if (uint32_t err = ReplaceFileAtomic(staged, szTo)) {
        DeleteFileAt(staged);
        return err;
    }
    return 0;
}

}  // namespace platform
