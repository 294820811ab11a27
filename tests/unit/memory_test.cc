// The blocks outside the arena that the commonization's index uses: large
// ones on huge-page boundaries, small ones as they come, and a request
// beyond any size refused as the standard allocator refuses it.
#include "driver/memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <new>

namespace {

constexpr std::size_t HUGE_PAGE = 2 << 20;

TEST(LargeBlocks, LargeOnesStartOnAHugePageBoundaryAndHoldTheirBytes) {
  for (std::size_t bytes : {HUGE_PAGE, HUGE_PAGE + 1, 5 * HUGE_PAGE + 123}) {
    auto* block = static_cast<unsigned char*>(alloc_large(bytes));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % HUGE_PAGE, 0u) << bytes;
    std::memset(block, 0xA5, bytes);
    EXPECT_EQ(block[bytes - 1], 0xA5);
    free_large(block);
  }
}

TEST(LargeBlocks, SmallAndEmptyOnesAreBlocksToo) {
  for (std::size_t bytes : {std::size_t(0), std::size_t(1), std::size_t(4096)}) {
    void* block = alloc_large(bytes);
    EXPECT_NE(block, nullptr) << bytes;
    free_large(block);
  }
}

TEST(LargeBlocks, VectorsGrowAndACountBeyondAnySizeIsRefused) {
  LargeVector<std::uint64_t> values;
  for (std::uint64_t i = 0; i < 1000000; ++i) values.push_back(i * 3);
  EXPECT_EQ(values[999999], 2999997u);
  LargeAllocator<std::uint64_t> allocator;
  EXPECT_THROW(allocator.allocate(SIZE_MAX / 4), std::bad_alloc);
  EXPECT_THROW(alloc_large(SIZE_MAX - 10), std::bad_alloc);
}

}  // namespace
