#include "zip/ZipAutoBuffer.h"

#include <cstring>

CZipAutoBuffer::CZipAutoBuffer(const CZipAutoBuffer& other) {
    if (other.m_iSize > 0) {
        Allocate(other.m_iSize);
        std::memcpy(m_pBuffer.get(), other.m_pBuffer.get(), m_iSize);
    }
}

CZipAutoBuffer& CZipAutoBuffer::operator=(const CZipAutoBuffer& other) {
    if (this != &other) {
        Release();
        if (other.m_iSize > 0) {
            Allocate(other.m_iSize);
            std::memcpy(m_pBuffer.get(), other.m_pBuffer.get(), m_iSize);
        }
    }
    return *this;
}

char* CZipAutoBuffer::Allocate(size_t iSize, bool bZeroMemory) {
    if (iSize != m_iSize || !m_pBuffer) {
        Release();
        if (iSize == 0) return nullptr;
        m_pBuffer.reset(new char[iSize]);
        m_iSize = iSize;
    }
    if (bZeroMemory) std::memset(m_pBuffer.get(), 0, m_iSize);
    return m_pBuffer.get();
}

void CZipAutoBuffer::Release() {
    m_pBuffer.reset();
    m_iSize = 0;
}
