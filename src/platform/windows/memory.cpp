#include "platform/memory.h"

#include <windows.h>

#include <new>

namespace platform {

LargeBlock::LargeBlock(size_t nBytes) {
    if (nBytes == 0) return;
    void* p = ::VirtualAlloc(nullptr, nBytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (p == nullptr) throw std::bad_alloc();
    m_pMapping = m_pData = p;
    m_nMapped = m_nSize = nBytes;
}

void LargeBlock::Trim(size_t) {}

void LargeBlock::Release() noexcept {
    if (m_pMapping != nullptr) ::VirtualFree(m_pMapping, 0, MEM_RELEASE);
    m_pMapping = nullptr;
    m_pData = nullptr;
    m_nSize = 0;
    m_nMapped = 0;
}

}  // namespace platform
