#include "core/data_buffer.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

bool AllZero(const std::uint8_t* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

TEST(DataBuffer, StartsEmptyAndOwningNothing) {
  DataBuffer buffer;
  EXPECT_EQ(buffer.data(), nullptr);
  EXPECT_EQ(buffer.capacity(), 0);
  EXPECT_EQ(buffer.length(), 0);
  EXPECT_FALSE(buffer.owns_data());
}

TEST(DataBuffer, ReserveWithinCapacityKeepsBytesButResetsCounts) {
  DataBuffer buffer;
  ASSERT_TRUE(buffer.reserve(16));
  ASSERT_NE(buffer.data(), nullptr);
  EXPECT_EQ(buffer.capacity(), 16);
  EXPECT_TRUE(buffer.owns_data());
  EXPECT_TRUE(AllZero(buffer.data(), 16));

  std::memset(buffer.data(), 0xAB, 16);
  buffer.set_length(16);
  buffer.set_count(3);
  std::uint8_t* const before = buffer.data();
  ASSERT_TRUE(buffer.reserve(8));
  EXPECT_EQ(buffer.data(), before);
  EXPECT_EQ(buffer.capacity(), 16);
  EXPECT_EQ(buffer.length(), 0);
  EXPECT_EQ(buffer.count(), 0);
  EXPECT_EQ(buffer.data()[15], 0xAB);
}

TEST(DataBuffer, GrowingGivesAFreshZeroedBlockWithTheExtraBytes) {
  DataBuffer buffer;
  buffer.set_extra(4);
  ASSERT_TRUE(buffer.reserve(8));
  std::memset(buffer.data(), 0xCD, 8 + 4);
  buffer.set_length(8);
  ASSERT_TRUE(buffer.reserve(64));
  EXPECT_EQ(buffer.capacity(), 64);
  EXPECT_EQ(buffer.length(), 0);
  // The extra bytes past the capacity belong to the block too, and are zero.
  EXPECT_TRUE(AllZero(buffer.data(), 64 + 4));
}

}  // namespace
