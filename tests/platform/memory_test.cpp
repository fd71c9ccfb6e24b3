#include "platform/memory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>

using platform::LargeBlock;

// Small blocks and blocks past the huge-page size (whose start is moved to an aligned address
// inside the mapping) read as zero and are writable to their last byte; a moved block leaves
// its source empty and owns the memory alone.
TEST(LargeBlock, ZeroedWritableToItsEndAndMovable) {
    for (const size_t size : {size_t(1), size_t(4097), (size_t(2) << 20) + 1, size_t(9) << 20}) {
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
