// Large scratch memory filled once and dropped whole (a manifest's text and its tree).
// Linux: an anonymous mapping; from 512 KiB on it is aligned and advised for transparent huge
// pages, so filling it costs a page fault per 2 MiB instead of per 4 KiB. Windows: VirtualAlloc.
// Both: the memory reads as zero until written, and is returned to the system when dropped.
#pragma once

#include <cstddef>

namespace platform {

class LargeBlock {
public:
    LargeBlock() = default;
    // Throws std::bad_alloc when the system has no room.
    explicit LargeBlock(size_t nBytes);
    ~LargeBlock();
    LargeBlock(LargeBlock&& other) noexcept;
    LargeBlock& operator=(LargeBlock&& other) noexcept;
    LargeBlock(const LargeBlock&) = delete;
    LargeBlock& operator=(const LargeBlock&) = delete;

    // Gives the pages after the first nUsed bytes back to the system (Linux: a block of one
    // huge page keeps it whole); they read as zero when touched again.
    // Windows: nothing to do (no huge pages are used there).
    void Trim(size_t nUsed);

    void* Data() const { return m_pData; }
    size_t Size() const { return m_nSize; }

private:
    void Release() noexcept;
    void* m_pData = nullptr;
    size_t m_nSize = 0;
    void* m_pMapping = nullptr;  // what was mapped (Data() may lie inside it)
    size_t m_nMapped = 0;
    size_t m_nSpan = 0;  // Linux: the whole huge pages behind a huge block, 0 otherwise
};

}  // namespace platform
