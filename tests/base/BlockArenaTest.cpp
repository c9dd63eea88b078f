#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "base/BlockArena.h"

namespace quarn {
namespace {

bool allBytesAre(const unsigned char* at, std::size_t size, unsigned char value) {
  for (std::size_t i = 0; i < size; ++i) {
    if (at[i] != value) return false;
  }
  return true;
}

// Random sizes over every block size and the large path, each zero on arrival
// and filled with its own byte, checked once all are made. The second round's
// arena takes the first one's block, used and cleared. Memory stays within
// twice what was asked and one block.
TEST(BlockArenaTest, AllocationsAreZeroAlignedKeptAndBounded) {
  std::mt19937 random(7);
  for (int round = 0; round < 2; ++round) {
    int owner = 0;
    BlockArena arena(&owner);
    struct Made {
      unsigned char* at;
      std::size_t size;
      unsigned char fill;
    };
    std::vector<Made> made;
    std::size_t asked = 0;
    for (int i = 0; i < 4000; ++i) {
      const bool large = random() % 200 == 0;
      const std::size_t size = large ? BlockArena::kLargeFrom + random() % 100000 : random() % 2000;
      const std::size_t alignment = std::size_t(1) << random() % 5;
      auto* at = static_cast<unsigned char*>(large ? arena.allocateLarge(size)
                                                   : arena.allocate(size, alignment));
      ASSERT_EQ(reinterpret_cast<std::uintptr_t>(at) % (large ? BlockArena::kAlignment : alignment),
                0u);
      ASSERT_TRUE(allBytesAre(at, size, 0)) << "round " << round << ", allocation " << i;
      if (!large) {
        ASSERT_EQ(BlockArena::ownerOf(at), &owner) << i;
      }
      const auto fill = static_cast<unsigned char>(i % 255 + 1);
      std::memset(at, fill, size);
      made.push_back({at, size, fill});
      asked += size;
    }
    for (const Made& m : made) ASSERT_TRUE(allBytesAre(m.at, m.size, m.fill));
    EXPECT_LE(arena.footprint(), 2 * asked + BlockArena::kLargestBlock);
  }
}

TEST(BlockArenaTest, OnlyTheNewestAllocationResizesInPlace) {
  BlockArena arena;
  auto* older = static_cast<unsigned char*>(arena.allocate(100));
  auto* newest = static_cast<unsigned char*>(arena.allocate(100));
  EXPECT_FALSE(arena.resizeInPlace(older, 200));
  std::memset(newest, 1, 100);
  // A shrink keeps the room, so growing again finds the bytes given out once
  // as they were and zeros past them.
  ASSERT_TRUE(arena.resizeInPlace(newest, 50));
  ASSERT_TRUE(arena.resizeInPlace(newest, 4000));
  EXPECT_TRUE(allBytesAre(newest, 100, 1));
  EXPECT_TRUE(allBytesAre(newest + 100, 3900, 0));
  auto* next = static_cast<unsigned char*>(arena.allocate(16));
  EXPECT_GE(next, newest + 4000);
  EXPECT_FALSE(arena.resizeInPlace(next, BlockArena::kFirstBlock));
}

// A first block kept from an arena that starts small must not serve one that
// starts larger: the second fills its first block to the end.
TEST(BlockArenaTest, KeptBlocksServeOnlyArenasOfTheirSize) {
  {
    BlockArena small(nullptr, {std::size_t(64) << 10, false});
    small.allocate(100);
  }
  int owner = 0;
  BlockArena arena(&owner);
  for (std::size_t made = 0; made + 1024 < BlockArena::kFirstBlock; made += 1024) {
    auto* at = static_cast<unsigned char*>(arena.allocate(1000));
    ASSERT_TRUE(allBytesAre(at, 1000, 0)) << made;
    std::memset(at, 1, 1000);
  }
  EXPECT_EQ(arena.footprint(), BlockArena::kFirstBlock);
}

// Requests a small first block cannot hold take a block that can.
TEST(BlockArenaTest, SmallFirstBlocksStillHoldEverySmallRequest) {
  int owner = 0;
  BlockArena arena(&owner, {std::size_t(4) << 10, false});
  const std::size_t size = BlockArena::kLargeFrom - 1;
  auto* at = static_cast<unsigned char*>(arena.allocate(size));
  std::memset(at, 1, size);
  EXPECT_EQ(BlockArena::ownerOf(at + size - 1), &owner);
  auto* next = static_cast<unsigned char*>(arena.allocate(16));
  EXPECT_TRUE(next >= at + size || next + 16 <= at);
}

}  // namespace
}  // namespace quarn
