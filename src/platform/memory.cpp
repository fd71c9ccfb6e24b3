#include "platform/memory.h"

#include <utility>

namespace platform {

LargeBlock::~LargeBlock() { Release(); }

LargeBlock::LargeBlock(LargeBlock&& other) noexcept
    : m_pData(std::exchange(other.m_pData, nullptr)),
      m_nSize(std::exchange(other.m_nSize, 0)),
      m_pMapping(std::exchange(other.m_pMapping, nullptr)),
      m_nMapped(std::exchange(other.m_nMapped, 0)),
      m_nSpan(std::exchange(other.m_nSpan, 0)) {}

LargeBlock& LargeBlock::operator=(LargeBlock&& other) noexcept {
    if (this != &other) {
        Release();
        m_pData = std::exchange(other.m_pData, nullptr);
        m_nSize = std::exchange(other.m_nSize, 0);
        m_pMapping = std::exchange(other.m_pMapping, nullptr);
        m_nMapped = std::exchange(other.m_nMapped, 0);
        m_nSpan = std::exchange(other.m_nSpan, 0);
    }
    return *this;
}

}  // namespace platform
