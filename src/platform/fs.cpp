#include "platform/fs.h"

namespace platform {

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

uint32_t CopyToTempSibling(const std::wstring& szFrom, const std::wstring& szTo, std::wstring& szTemp) {
    File in;
    if (uint32_t err = in.Open(szFrom, File::Mode::Read)) return err;
    szTemp = MakeTempSibling(szTo);
    File out;
    if (uint32_t err = out.Open(szTemp, File::Mode::CreateAlways)) return err;
    std::vector<std::byte> buf(1 << 20);
    uint32_t err = 0;
    for (;;) {
        const int64_t n = in.Read(buf.data(), buf.size());
        if (n < 0) {
            err = in.LastError();
            break;
        }
        if (n == 0) {
            if (!out.Flush()) err = out.LastError();
            break;
        }
        if (!out.Write(buf.data(), static_cast<size_t>(n))) {
            err = out.LastError();
            break;
        }
    }
    out.Close();
    if (err == 0) err = CopyPermissions(szFrom, szTemp);
    if (err != 0) DeleteFileAt(szTemp);
    return err;
}

uint32_t CopyFileReplacing(const std::wstring& szFrom, const std::wstring& szTo) {
    std::wstring temp;
    if (uint32_t err = CopyToTempSibling(szFrom, szTo, temp)) return err;
    if (uint32_t err = ReplaceFileAtomic(temp, szTo)) {
        DeleteFileAt(temp);
        return err;
    }
    return 0;
}

}  // namespace platform
