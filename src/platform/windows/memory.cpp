#include "platform/memory.h"

#include <windows.h>

#include <new>
#include <utility>

namespace platform {

LargeBlock::LargeBlock(size_t nBytes) {
    if (nBytes == 0) return;
    void* p = ::VirtualAlloc(nullptr, nBytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (p == nullptr) throw std::bad_alloc();
    m_pMapping = m_pData = p;
    m_nMapped = m_nSize = nBytes;
}

void LargeBlock::Trim(size_t) {}

LargeBlock::~LargeBlock() { Release(); }

LargeBlock::LargeBlock(LargeBlock&& other) noexcept
    : m_pData(std::exchange(other.m_pData, nullptr)),
      m_nSize(std::exchange(other.m_nSize, 0)),
      m_pMapping(std::exchange(other.m_pMapping, nullptr)),
      m_nMapped(std::exchange(other.m_nMapped, 0)) {}

LargeBlock& LargeBlock::operator=(LargeBlock&& other) noexcept {
    if (this != &other) {
        Release();
        m_pData = std::exchange(other.m_pData, nullptr);
        m_nSize = std::exchange(other.m_nSize, 0);
        m_pMapping = std::exchange(other.m_pMapping, nullptr);
        m_nMapped = std::exchange(other.m_nMapped, 0);
    }
    return *this;
}

void LargeBlock::Release() noexcept {
    if (m_pMapping != nullptr) ::VirtualFree(m_pMapping, 0, MEM_RELEASE);
    m_pMapping = nullptr;
    m_pData = nullptr;
    m_nSize = 0;
    m_nMapped = 0;
}

}  // namespace platform
