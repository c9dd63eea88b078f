#include "base/BlockArena.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace quarn {

// The start of every block: ownerOf reads `owner` through a masked address.
struct BlockArena::Block {
  void* owner;
  Block* next;
  std::size_t size;
  std::size_t used;  // set once the arena has moved on from it
};

struct BlockArena::Large {
  Large* previous;
  Large* next;
  std::size_t size;
  std::size_t unused;  // keeps what follows aligned to kAlignment
};

namespace {

constexpr std::size_t kHeader =
    (sizeof(void*) * 2 + sizeof(std::size_t) * 2 + BlockArena::kAlignment - 1) &
    ~(BlockArena::kAlignment - 1);

// First blocks kept for the thread's next arenas, each only for an arena of
// its size. Plain storage, so that an arena let go after the thread's
// destructors ran still finds it; `closed` says the blocks were given back and
// no more may be kept.
constexpr int kSpares = 2;
struct Spares {
  void* blocks[kSpares];
  std::size_t sizes[kSpares];
  int count;
  bool closed;
};
thread_local Spares tSpares;
struct SparesGuard {
  ~SparesGuard() {
    for (int i = 0; i < tSpares.count; ++i) munmap(tSpares.blocks[i], tSpares.sizes[i]);
    tSpares.count = 0;
    tSpares.closed = true;
  }
};

// A kept block of `size` bytes, or null.
void* takeSpare(std::size_t size) {
  for (int i = tSpares.count - 1; i >= 0; --i) {
    if (tSpares.sizes[i] != size) continue;
    void* block = tSpares.blocks[i];
    --tSpares.count;
    tSpares.blocks[i] = tSpares.blocks[tSpares.count];
    tSpares.sizes[i] = tSpares.sizes[tSpares.count];
    return block;
  }
  return nullptr;
}

void keepSparesUntilThreadEnd() {
  thread_local SparesGuard guard;
  (void)guard;
}

// `size` bytes at an address aligned to kLargestBlock, mapped on their own.
void* mapBlock(std::size_t size) {
  constexpr std::size_t kAlign = BlockArena::kLargestBlock;
  void* raw =
      mmap(nullptr, size + kAlign, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) throw std::bad_alloc();
  const auto begin = reinterpret_cast<std::uintptr_t>(raw);
  const auto start = (begin + kAlign - 1) & ~(kAlign - 1);
  if (start > begin) munmap(raw, start - begin);
  munmap(reinterpret_cast<void*>(start + size), begin + kAlign - start);
#ifdef MADV_HUGEPAGE
  if (size == kAlign) madvise(reinterpret_cast<void*>(start), size, MADV_HUGEPAGE);
#endif
  return reinterpret_cast<void*>(start);
}

}  // namespace

BlockArena::~BlockArena() {
  while (large_) {
    Large* next = large_->next;
    std::free(large_);
    large_ = next;
  }
  noteUsed();
  while (blocks_) {
    Block* next = blocks_->next;
    if (blocks_->size == firstBlock_ && !blocks_->next && tSpares.count < kSpares &&
        !tSpares.closed) {
      keepSparesUntilThreadEnd();
      // Clearing what was used costs less than faulting in fresh pages.
      std::memset(reinterpret_cast<char*>(blocks_) + kHeader, 0, blocks_->used - kHeader);
      tSpares.blocks[tSpares.count] = blocks_;
      tSpares.sizes[tSpares.count++] = blocks_->size;
    } else {
      munmap(blocks_, blocks_->size);
    }
    blocks_ = next;
  }
}

void BlockArena::noteUsed() {
  if (blocks_) blocks_->used = static_cast<std::size_t>(next_ - reinterpret_cast<char*>(blocks_));
}

void* BlockArena::allocateSlow(std::size_t bytes) {
  if (bytes >= kLargeFrom) return allocateLarge(bytes);
  std::size_t size = nextBlock_;
  // A first block smaller than kLargeFrom need not hold every small request.
  while (size - kHeader < bytes) size *= 2;
  void* start = blocks_ ? nullptr : takeSpare(size);
  if (!start) start = mapBlock(size);
  nextBlock_ = doubling_ ? std::min(size * 2, kLargestBlock) : kLargestBlock;
  noteUsed();
  auto* block = static_cast<Block*>(start);
  block->owner = owner_;
  block->next = blocks_;
  block->size = size;
  blocks_ = block;
  footprint_ += size;
  // Every request is at most kAlignment aligned, as a fresh block's room is.
  newest_ = static_cast<char*>(start) + kHeader;
  next_ = newest_ + bytes;
  end_ = static_cast<char*>(start) + size;
  return newest_;
}

bool BlockArena::resizeInPlace(void* pointer, std::size_t bytes) {
  char* at = static_cast<char*>(pointer);
  if (at != newest_ || !at || static_cast<std::size_t>(end_ - at) < bytes) return false;
  next_ = std::max(next_, at + bytes);
  return true;
}

void* BlockArena::allocateLarge(std::size_t bytes) {
  static_assert(sizeof(Large) % kAlignment == 0);
  if (bytes > SIZE_MAX - sizeof(Large)) throw std::bad_alloc();
  auto* large = static_cast<Large*>(std::calloc(1, sizeof(Large) + bytes));
  if (!large) throw std::bad_alloc();
  large->next = large_;
  if (large_) large_->previous = large;
  large_ = large;
  large->size = bytes;
  footprint_ += bytes;
  return large + 1;
}

void* BlockArena::resizeLarge(void* pointer, std::size_t bytes) {
  if (bytes > SIZE_MAX - sizeof(Large)) throw std::bad_alloc();
  Large* old = static_cast<Large*>(pointer) - 1;
  const std::size_t oldSize = old->size;
  auto* large = static_cast<Large*>(std::realloc(old, sizeof(Large) + bytes));
  if (!large) throw std::bad_alloc();
  (large->previous ? large->previous->next : large_) = large;
  if (large->next) large->next->previous = large;
  large->size = bytes;
  footprint_ = footprint_ - oldSize + bytes;
  return large + 1;
}

void BlockArena::releaseLarge(void* pointer) {
  Large* large = static_cast<Large*>(pointer) - 1;
  (large->previous ? large->previous->next : large_) = large->next;
  if (large->next) large->next->previous = large->previous;
  footprint_ -= large->size;
  std::free(large);
}

}  // namespace quarn
