#include <gtest/gtest.h>

#include <cstdint>

#include "format/block_buffer.h"

namespace wexlo {
namespace {

// Growing keeps the bytes below the old size, across the size from which a
// buffer is aligned for large pages (and freed with that alignment).
TEST(BlockBuffer, GrowingKeepsTheBytesAndAlignsABlocksWorthForLargePages) {
  BlockBuffer buffer;
  std::size_t kept = 0;
  for (std::size_t size :
       {std::size_t{1000}, kLargePageSize - 1, kLargePageSize, 3 * kLargePageSize}) {
    ASSERT_TRUE(buffer.resize(size));
    for (std::size_t i = 0; i < kept; ++i) ASSERT_EQ(buffer.data()[i], std::uint8_t(i * 7)) << size;
    for (std::size_t i = kept; i < size; ++i) buffer.data()[i] = std::uint8_t(i * 7);
    kept = size;
    if (size >= kLargePageSize) {
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(buffer.data()) % kLargePageSize, 0u) << size;
    }
  }
  ASSERT_TRUE(buffer.resize(10));
  EXPECT_EQ(buffer.capacity(), 3 * kLargePageSize);
}

}  // namespace
}  // namespace wexlo
