#include "platform/memory.h"

#include <sys/mman.h>

#include <cstdint>
#include <new>

namespace platform {

namespace {
constexpr size_t kHugePage = size_t(2) << 20;
constexpr size_t kPage = 4096;
}  // namespace

LargeBlock::LargeBlock(size_t nBytes) {
    if (nBytes == 0) return;
    const size_t rounded = (nBytes + kPage - 1) & ~(kPage - 1);
    // Huge pages only for blocks of several: a small block, often filled only in part, keeps
    // its memory to the pages it touches.
    const bool huge = rounded >= 2 * kHugePage;
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
    // Only advice: without huge pages the block still works, page by page. The tail that
    // fills no whole huge page stays in small pages, so a block filled to its end holds no
    // memory beyond its size.
    ::madvise(m_pData, rounded & ~(kHugePage - 1), MADV_HUGEPAGE);
}

void LargeBlock::Trim(size_t nUsed) {
    const size_t from = (nUsed + kPage - 1) & ~(kPage - 1);
    const size_t end = (m_nSize + kPage - 1) & ~(kPage - 1);
    if (m_pData == nullptr || from >= end) return;
    ::madvise(static_cast<char*>(m_pData) + from, end - from, MADV_DONTNEED);
}

void LargeBlock::Release() noexcept {
    if (m_pMapping != nullptr) ::munmap(m_pMapping, m_nMapped);
    m_pMapping = nullptr;
    m_pData = nullptr;
    m_nSize = 0;
    m_nMapped = 0;
}

}  // namespace platform
