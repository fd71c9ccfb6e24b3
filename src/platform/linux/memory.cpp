#include "platform/memory.h"

#include <sys/mman.h>

#include <cstdint>
#include <new>

namespace platform {

namespace {
constexpr size_t kHugePage = size_t(2) << 20;
constexpr size_t kPage = 4096;
constexpr size_t kHugeFrom = size_t(512) << 10;
}  // namespace

LargeBlock::LargeBlock(size_t nBytes) {
    if (nBytes == 0) return;
    const size_t rounded = (nBytes + kPage - 1) & ~(kPage - 1);
    // From 512 KiB on a block is backed by huge pages: on virtual machines a page fault costs
    // microseconds, so filling 1 MiB page by page costs more than the rest of a short run.
    // Smaller blocks keep their memory to the pages they touch.
    const bool huge = rounded >= kHugeFrom;
    const size_t span = huge ? (rounded + kHugePage - 1) & ~(kHugePage - 1) : rounded;
    const size_t mapped = huge ? span + kHugePage : span;
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
    m_nSpan = span;
    // Only advice: without huge pages the block still works, page by page.
    ::madvise(m_pData, span, MADV_HUGEPAGE);
}

void LargeBlock::Trim(size_t nUsed) {
    // A small huge block gives back whole huge pages only: splitting one costs about 1 ms (on
    // virtual machines every small page of the rest is faulted in again), a lot for a short
    // run and nothing for a block of several huge pages, where the memory counts more.
    const size_t unit = m_nSpan != 0 && m_nSpan < 2 * kHugePage ? kHugePage : kPage;
    const size_t from = (nUsed + unit - 1) & ~(unit - 1);
    const size_t end = m_nSpan != 0 ? m_nSpan : (m_nSize + kPage - 1) & ~(kPage - 1);
    if (m_pData == nullptr || from >= end) return;
    ::madvise(static_cast<char*>(m_pData) + from, end - from, MADV_DONTNEED);
}

void LargeBlock::Release() noexcept {
    if (m_pMapping != nullptr) ::munmap(m_pMapping, m_nMapped);
    m_pMapping = nullptr;
    m_pData = nullptr;
    m_nSize = 0;
    m_nMapped = 0;
    m_nSpan = 0;
}

}  // namespace platform
