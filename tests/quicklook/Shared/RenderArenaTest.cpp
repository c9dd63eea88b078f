#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "quicklook/Shared/RenderArena.h"

namespace quarn {
namespace {

// The library's view: random callocs, reallocs and frees of small and large
// blocks, each block filled with its own byte and checked before it changes
// hands; calloc and the grown tail of an in-place realloc are zero as far as
// calloc promised. Blocks given back are reused, so churn over a bounded live
// set keeps memory bounded too.
TEST(RenderArenaTest, BehavesAsMallocAndReusesWhatIsFreed) {
  RenderArena arena;
  cmark_mem* mem = arena.allocator();
  std::mt19937 random(11);
  struct Live {
    unsigned char* at;
    std::size_t size;
    unsigned char fill;
  };
  std::vector<Live> live;
  auto check = [](const Live& block) {
    for (std::size_t i = 0; i < block.size; ++i) {
      if (block.at[i] != block.fill) return false;
    }
    return true;
  };
  for (int i = 0; i < 200000; ++i) {
    const auto fill = static_cast<unsigned char>(i % 255 + 1);
    const std::size_t size = random() % 100 == 0 ? 70000 + random() % 20000 : 1 + random() % 128;
    const unsigned op = random() % 3;
    if (op == 0 || live.size() < 8) {
      auto* at = static_cast<unsigned char*>(mem->calloc(1, size));
      for (std::size_t k = 0; k < size; ++k) ASSERT_EQ(at[k], 0) << "calloc " << i;
      std::memset(at, fill, size);
      live.push_back({at, size, fill});
      continue;
    }
    Live& block = live[random() % live.size()];
    ASSERT_TRUE(check(block)) << "op " << i;
    if (op == 1) {
      auto* at = static_cast<unsigned char*>(mem->realloc(block.at, size));
      for (std::size_t k = 0; k < std::min(size, block.size); ++k) {
        ASSERT_EQ(at[k], block.fill) << "realloc " << i;
      }
      std::memset(at, fill, size);
      block = {at, size, fill};
    } else {
      mem->free(block.at);
      block = live.back();
      live.pop_back();
    }
  }
  for (const Live& block : live) EXPECT_TRUE(check(block));
  // A few hundred blocks are live at a time; without reuse the small ones
  // alone would take some 15 MB.
  EXPECT_LE(arena.footprint(), std::size_t(4) << 20);
}

}  // namespace
}  // namespace quarn
