// Big tables on 2 MiB pages: growing buffers keep every value whether they
// grow in place or their pages move, and big blocks are aligned.
#include "graph/large_pages.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "graph/grow_buffer.hpp"

namespace {

// Two buffers grown in turn past the mapping threshold: each one's growth
// finds the other's mapping in the way now and then, so its pages move.
TEST(LargePages, GrowingBuffersKeepTheirValues) {
  growBuffer<int> a, b;
  std::vector<int> chunk(1000);
  for (int round = 0; round < 3000; ++round) {
    for (int k = 0; k < 1000; ++k)
      chunk[k] = round * 1000 + k;
    a.append(chunk.data(), chunk.size());
    b.push_back(-round);
    b.append(chunk.data(), 500);
  }
  ASSERT_EQ(a.size(), std::size_t{3000000});
  ASSERT_EQ(b.size(), std::size_t{3000 * 501});
  for (std::size_t i = 0; i < a.size(); ++i)
    ASSERT_EQ(a[i], static_cast<int>(i)) << i;
  for (int round = 0; round < 3000; ++round) {
    ASSERT_EQ(b[round * 501], -round);
    ASSERT_EQ(b[round * 501 + 500], round * 1000 + 499);
  }
  growBuffer<int> copy = a;
  ASSERT_EQ(copy.size(), a.size());
  EXPECT_EQ(copy[2999999], 2999999);
}

TEST(LargePages, BigBlocksAreAlignedAndSmallOnesComeFromTheHeap) {
  std::vector<std::uint64_t, largePages::allocator<std::uint64_t>> v;
  for (std::uint64_t i = 0; i < 1000000; ++i)
    v.push_back(i * 3);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(v.data()) % largePages::kHuge, 0u);
  for (std::uint64_t i = 0; i < v.size(); ++i)
    ASSERT_EQ(v[i], i * 3);
  std::vector<int, largePages::allocator<int>> small(10, 7);
  EXPECT_EQ(small[9], 7);
  std::vector<int> advised;
  largePages::reserveAdvised(advised, 1 << 20);
  EXPECT_GE(advised.capacity(), std::size_t{1} << 20);
  advised.assign(1 << 20, 5);
  EXPECT_EQ(advised.back(), 5);
}

}  // namespace
