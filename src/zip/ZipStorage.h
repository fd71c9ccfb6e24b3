// The archive file: positioned reads through a small read-ahead cache, so that the many small
// header reads cost few system calls while entry data is read straight into the caller's buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/fs.h"
#include "zip/ZipAutoBuffer.h"

class CZipStorage {
public:
    // Opens the file read-only; throws CZipException on failure.
    void Open(const std::wstring& szPath);
    void Close();
    bool IsOpen() const { return m_file.IsOpen(); }

    uint64_t GetLength() const { return m_uLength; }
    uint64_t GetPosition() const { return m_uPosition; }
    void Seek(uint64_t uPosition) { m_uPosition = uPosition; }
    // Reads up to iSize bytes at the position and advances it; returns the count (short only
    // at the end of the file). An I/O failure throws.
    size_t Read(void* pBuf, size_t iSize);
    // Reads exactly iSize bytes; a short read means a damaged archive (101).
    void ReadExact(void* pBuf, size_t iSize);

    const std::wstring& GetFilePath() const { return m_szFileName; }

private:
    static constexpr size_t kCacheSize = 16384;

    platform::File m_file;
    std::wstring m_szFileName;
    uint64_t m_uLength = 0;
    uint64_t m_uPosition = 0;
    CZipAutoBuffer m_cache;
    uint64_t m_uCacheStart = 0;
    size_t m_uCacheLength = 0;
};
