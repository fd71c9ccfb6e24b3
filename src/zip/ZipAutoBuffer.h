// An owned byte buffer that keeps its size; released by the destructor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

class CZipAutoBuffer {
public:
    CZipAutoBuffer() = default;
    explicit CZipAutoBuffer(size_t iSize, bool bZeroMemory = false) { Allocate(iSize, bZeroMemory); }
    CZipAutoBuffer(const CZipAutoBuffer& other);
    CZipAutoBuffer& operator=(const CZipAutoBuffer& other);
    CZipAutoBuffer(CZipAutoBuffer&& other) noexcept = default;
    CZipAutoBuffer& operator=(CZipAutoBuffer&& other) noexcept = default;

    // Replaces the contents with a fresh buffer of iSize bytes (kept when the size is already
    // right); returns the data pointer.
    char* Allocate(size_t iSize, bool bZeroMemory = false);
    void Release();
    size_t GetSize() const { return m_iSize; }
    bool IsAllocated() const { return m_pBuffer != nullptr; }
    char* data() { return m_pBuffer.get(); }
    const char* data() const { return m_pBuffer.get(); }
    operator char*() { return m_pBuffer.get(); }
    operator const char*() const { return m_pBuffer.get(); }

private:
    std::unique_ptr<char[]> m_pBuffer;
    size_t m_iSize = 0;
};
