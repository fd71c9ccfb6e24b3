#include "platform/memory.h"

#include <sys/mman.h>

#include <cstdint>
#include <new>
#include <utility>

namespace platform {

namespace {
constexpr size_t kHugePage = size_t(2) << 20;
constexpr size_t kPage = 4096;
}  // namespace

LargeBlock::LargeBlock(size_t nBytes) {
    if (nBytes == 0) return;
    const size_t rounded = (nBytes + kPage - 1) & ~(kPage - 1);
    // Huge pages only where whole ones fit: a small block stays at its size.
    const bool huge = rounded >= kHugePage;
    const size_t mapped = huge ? rounded + kHugePage : rounded;
    void* p = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    m_pMapping = p;
    m_nMapped = mapped;
    m_nSize = nBytes;
    if (!huge) {
        m_pData = p;
        return;
    }
    const auto start = reinterpret_cast<uintptr_t>(p);
    const uintptr_t aligned = (start + kHugePage - 1) & ~(uintptr_t(kHugePage) - 1);
    m_pData = reinterpret_cast<void*>(aligned);
    // Only advice: without huge pages the block still works, page by page.
    ::madvise(m_pData, mapped - (aligned - start), MADV_HUGEPAGE);
}

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
    if (m_pMapping != nullptr) ::munmap(m_pMapping, m_nMapped);
    m_pMapping = nullptr;
    m_pData = nullptr;
    m_nSize = 0;
    m_nMapped = 0;
}

}  // namespace platform
