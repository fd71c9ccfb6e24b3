#include "zip/ZipStorage.h"

#include <algorithm>
#include <cstring>

#include "zip/ZipException.h"

void CZipStorage::Open(const std::wstring& szPath) {
    Close();
    m_szFileName = szPath;
    if (uint32_t err = m_file.Open(szPath, platform::File::Mode::Read))
        CZipException::Throw(CZipException::SystemErrorToCause(err), szPath);
    const auto length = m_file.Size();
    if (!length) {
        m_file.Close();
        CZipException::Throw(5, szPath);
    }
    m_uLength = *length;
    m_uPosition = 0;
    m_uCacheLength = 0;
}

void CZipStorage::Close() {
    m_file.Close();
    m_cache.Release();
    m_uCacheLength = 0;
    m_uLength = 0;
    m_uPosition = 0;
}

size_t CZipStorage::Read(void* pBuf, size_t iSize) {
    if (!m_file.IsOpen()) CZipException::Throw(CZipException::internal, m_szFileName);
    char* out = static_cast<char*>(pBuf);
    size_t done = 0;
    while (done < iSize) {
        // Served from the cache when the position lies inside it.
        if (m_uPosition >= m_uCacheStart && m_uPosition < m_uCacheStart + m_uCacheLength) {
            const size_t offset = static_cast<size_t>(m_uPosition - m_uCacheStart);
            const size_t n = std::min(iSize - done, m_uCacheLength - offset);
            std::memcpy(out + done, m_cache.data() + offset, n);
            done += n;
            m_uPosition += n;
            continue;
        }
        if (m_uPosition >= m_uLength) break;
        const size_t want = iSize - done;
        if (want >= kCacheSize) {
            const int64_t n = m_file.ReadAt(m_uPosition, out + done, want);
            if (n < 0) CZipException::Throw(CZipException::SystemErrorToCause(m_file.LastError()), m_szFileName);
            if (n == 0) break;
            done += static_cast<size_t>(n);
            m_uPosition += static_cast<uint64_t>(n);
            continue;
        }
        if (!m_cache.IsAllocated()) m_cache.Allocate(kCacheSize);
        const int64_t n = m_file.ReadAt(m_uPosition, m_cache.data(), kCacheSize);
        if (n < 0) CZipException::Throw(CZipException::SystemErrorToCause(m_file.LastError()), m_szFileName);
        if (n == 0) break;
        m_uCacheStart = m_uPosition;
        m_uCacheLength = static_cast<size_t>(n);
    }
    return done;
}

void CZipStorage::ReadExact(void* pBuf, size_t iSize) {
    if (Read(pBuf, iSize) != iSize) CZipException::Throw(CZipException::badZipFile, m_szFileName);
}
