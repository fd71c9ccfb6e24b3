#include "platform/memory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#ifdef __linux__
#include <sys/mman.h>
#include <unistd.h>
#endif

using platform::LargeBlock;

// Small blocks and blocks past the huge-page size (whose start is moved to an aligned address
// inside the mapping) read as zero and are writable to their last byte; a moved block leaves
// its source empty and owns the memory alone.
TEST(LargeBlock, ZeroedWritableToItsEndAndMovable) {
    for (const size_t size : {size_t(1), size_t(4097), size_t(600) << 10, (size_t(2) << 20) + 1, size_t(9) << 20}) {
        SCOPED_TRACE(size);
        LargeBlock block(size);
        ASSERT_NE(block.Data(), nullptr);
        ASSERT_EQ(block.Size(), size);
        auto* bytes = static_cast<unsigned char*>(block.Data());
        EXPECT_EQ(bytes[0], 0);
        EXPECT_EQ(bytes[size - 1], 0);
        std::memset(bytes, 0xAB, size);
        LargeBlock moved(std::move(block));
        EXPECT_EQ(block.Data(), nullptr);
        EXPECT_EQ(block.Size(), 0u);
        EXPECT_EQ(static_cast<unsigned char*>(moved.Data())[size - 1], 0xAB);
        block = std::move(moved);
        EXPECT_EQ(static_cast<unsigned char*>(block.Data())[size / 2], 0xAB);
        // Trimming keeps what is used and leaves the block usable.
        block.Trim(1);
        EXPECT_EQ(static_cast<unsigned char*>(block.Data())[0], 0xAB);
        static_cast<unsigned char*>(block.Data())[size - 1] = 1;
        EXPECT_EQ(static_cast<unsigned char*>(block.Data())[size - 1], 1);
    }
    EXPECT_EQ(LargeBlock(0).Data(), nullptr);
}

#ifdef __linux__
// Trimming gives back what lies beyond the used part, except in a block of one huge page: the
// block still reads and writes as before.
TEST(LargeBlock, TrimGivesBackWhatLiesBeyondTheUsedPart) {
    const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    const size_t huge = size_t(2) << 20;
    auto resident = [&](const LargeBlock& block, size_t from, size_t to) {
        std::vector<unsigned char> in((to - from + page - 1) / page);
        EXPECT_EQ(::mincore(static_cast<char*>(block.Data()) + from, to - from, in.data()), 0);
        size_t n = 0;
        for (unsigned char c : in) n += c & 1;
        return n;
    };
    for (const size_t size : {size_t(100) << 10, size_t(1) << 20, (size_t(3) << 20) + 4096, size_t(9) << 20}) {
        SCOPED_TRACE(size);
        LargeBlock block(size);
        std::memset(block.Data(), 1, size);
        const size_t used = size / 3;
        block.Trim(used);
        const bool oneHugePage = size >= (size_t(512) << 10) && size <= huge;
        const size_t kept = oneHugePage ? huge : (used + page - 1) & ~(page - 1);
        const size_t end = (size + page - 1) & ~(page - 1);
        if (kept < end) {
            EXPECT_EQ(resident(block, kept, end), 0u);
        }
        EXPECT_EQ(static_cast<unsigned char*>(block.Data())[used - 1], 1);
        static_cast<unsigned char*>(block.Data())[size - 1] = 2;
        EXPECT_EQ(static_cast<unsigned char*>(block.Data())[size - 1], 2);
    }
}
#endif
