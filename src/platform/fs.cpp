#include "platform/fs.h"

#include <atomic>
#include <random>

#include "platform/process.h"
#include "platform/strings.h"

namespace platform {

std::wstring MakeTempSibling(const std::wstring& szPath) {
    static std::atomic<unsigned> counter{0};
    std::random_device rd;
    for (;;) {
        std::wstring candidate = FormatW(L"%s.orvo-%u-%x.tmp", szPath, CurrentProcessId(),
                                         rd() ^ (counter++ * 2654435761u));
        if (!PathExists(candidate)) return candidate;
    }
}


File::~File() { Close(); }

File::File(File&& other) noexcept : m_fd(other.m_fd), m_lastError(other.m_lastError) { other.m_fd = -1; }

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        m_fd = other.m_fd;
        m_lastError = other.m_lastError;
        other.m_fd = -1;
    }
    return *this;
}

uint32_t WriteFileAtomically(const std::wstring& szPath, std::span<const std::byte> data) {
    const std::wstring temp = MakeTempSibling(szPath);
    File file;
    if (uint32_t err = file.Open(temp, File::Mode::CreateAlways)) return err;
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

}  // namespace platform
