#include "quicklook/Shared/RenderArena.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/Budget.h"

namespace quarn {
namespace {

constexpr std::size_t kAlignment = RenderArena::kAlignment;
// Larger requests go to malloc: they are few, and they grow by realloc.
constexpr std::size_t kLargeFrom = 64 * 1024;
constexpr std::size_t kFirstBlock = 256 * 1024;
constexpr std::size_t kLargestBlock = 16 * 1024 * 1024;

thread_local RenderArena* tArena = nullptr;

// Every allocation is preceded by its size and whether it came from malloc.
struct Header {
  std::size_t size;
  std::size_t large;
};
static_assert(sizeof(Header) % kAlignment == 0);

Header& headerOf(void* pointer) { return *(static_cast<Header*>(pointer) - 1); }

std::size_t aligned(std::size_t size) { return (size + kAlignment - 1) & ~(kAlignment - 1); }

// The room a small block of `size` bytes takes (an empty one still takes some).
std::size_t capacityFor(std::size_t size) { return aligned(std::max<std::size_t>(size, 1)); }

// As with the library's own allocator, a failed allocation ends the process
// (its callers do not check); under a budget it ends as the budget says.
[[noreturn]] void outOfMemory() { Budget::exhausted(); }

}  // namespace

struct RenderArena::Block {
  Block* next;
  std::size_t size;
  std::size_t used;  // set once the arena has moved on from it
};

namespace {

// Each thread keeps its first block between renders, cleared as far as it was
// used: fresh pages cost more than clearing them, and a folder of small notes
// would otherwise fault in a new block for every note.
struct SpareBlock {
  RenderArena::Block* block = nullptr;
  ~SpareBlock() {
    if (block) munmap(block, block->size);
  }
};
thread_local SpareBlock tSpare;

}  // namespace

struct RenderArena::Reused {
  Reused* next;
};

struct RenderArena::Large {
  Large* previous;
  Large* next;
  Header header;
};
static_assert(sizeof(RenderArena::Large) % kAlignment == 0);

RenderArena::RenderArena() : previous_(tArena), nextBlockSize_(kFirstBlock) { tArena = this; }

RenderArena::~RenderArena() {
  tArena = previous_;
  while (large_) {
    Large* next = large_->next;
    std::free(large_);
    large_ = next;
  }
  noteUsed();
  while (blocks_) {
    Block* next = blocks_->next;
    if (!tSpare.block && blocks_->size == kFirstBlock) {
      const std::size_t start = aligned(sizeof(Block));
      std::memset(reinterpret_cast<char*>(blocks_) + start, 0, blocks_->used - start);
      tSpare.block = blocks_;
    } else {
      munmap(blocks_, blocks_->size);
    }
    blocks_ = next;
  }
}

// Records how far the current block was used, before the arena leaves it.
void RenderArena::noteUsed() {
  if (blocks_) blocks_->used = static_cast<std::size_t>(next_ - reinterpret_cast<char*>(blocks_));
}

cmark_mem* RenderArena::allocator() {
  static cmark_mem mem = {&RenderArena::calloc, &RenderArena::realloc, &RenderArena::free};
  return &mem;
}

void* RenderArena::calloc(std::size_t count, std::size_t size) {
  if (size != 0 && count > SIZE_MAX / size) outOfMemory();
  return tArena->allocate(count * size);
}

void* RenderArena::realloc(void* pointer, std::size_t size) {
  return pointer ? tArena->resize(pointer, size) : tArena->allocate(size);
}

void RenderArena::free(void* pointer) {
  if (pointer) tArena->release(pointer);
}

// Zeroed memory: carved from fresh mappings, or a block given back, cleared.
void* RenderArena::allocate(std::size_t size) {
  if (size >= kLargeFrom) return allocateLarge(size);
  const std::size_t capacity = capacityFor(size);
  if (capacity <= kReusedUpTo) {
    if (Reused*& list = reused_[capacity / kAlignment]) {
      Reused* block = list;
      list = block->next;
      std::memset(block, 0, capacity);
      headerOf(block) = {size, 0};
      return block;
    }
  }
  const std::size_t needed = sizeof(Header) + capacity;
  if (static_cast<std::size_t>(end_ - next_) < needed) {
    const std::size_t blockSize = nextBlockSize_;
    nextBlockSize_ = std::min(nextBlockSize_ * 2, kLargestBlock);
    noteUsed();
    void* mapped = nullptr;
    if (blockSize == kFirstBlock && tSpare.block) {
      mapped = std::exchange(tSpare.block, nullptr);
    } else {
      mapped = mmap(nullptr, blockSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (mapped == MAP_FAILED) outOfMemory();
    }
    auto* block = static_cast<Block*>(mapped);
    block->next = blocks_;
    block->size = blockSize;
    blocks_ = block;
    next_ = static_cast<char*>(mapped) + aligned(sizeof(Block));
    end_ = static_cast<char*>(mapped) + blockSize;
  }
  auto* header = reinterpret_cast<Header*>(next_);
  header->size = size;
  header->large = 0;
  last_ = next_ + sizeof(Header);
  next_ += needed;
  return last_;
}

void* RenderArena::allocateLarge(std::size_t size) {
  if (size > SIZE_MAX - sizeof(Large)) outOfMemory();
  auto* large = static_cast<Large*>(std::calloc(1, sizeof(Large) + size));
  if (!large) outOfMemory();
  large->previous = nullptr;
  large->next = large_;
  if (large_) large_->previous = large;
  large_ = large;
  large->header = {size, 1};
  return large + 1;
}

void RenderArena::release(void* pointer) {
  const Header& header = headerOf(pointer);
  if (!header.large) {
    // Others stay until the arena goes.
    const std::size_t capacity = capacityFor(header.size);
    if (capacity <= kReusedUpTo) {
      if (pointer == last_) last_ = nullptr;
      auto* block = static_cast<Reused*>(pointer);
      block->next = reused_[capacity / kAlignment];
      reused_[capacity / kAlignment] = block;
    }
    return;
  }
  Large* large = static_cast<Large*>(pointer) - 1;
  (large->previous ? large->previous->next : large_) = large->next;
  if (large->next) large->next->previous = large->previous;
  std::free(large);
}

void* RenderArena::resize(void* pointer, std::size_t size) {
  Header& header = headerOf(pointer);
  if (header.large && size >= kLargeFrom) {
    Large* old = static_cast<Large*>(pointer) - 1;
    if (size > SIZE_MAX - sizeof(Large)) outOfMemory();
    auto* large = static_cast<Large*>(std::realloc(old, sizeof(Large) + size));
    if (!large) outOfMemory();
    (large->previous ? large->previous->next : large_) = large;
    if (large->next) large->next->previous = large;
    large->header.size = size;
    return large + 1;
  }
  // The newest small block grows where it is while its mapping has room.
  if (!header.large && pointer == last_ && size < kLargeFrom) {
    const std::size_t grown = capacityFor(size);
    if (static_cast<std::size_t>(end_ - static_cast<char*>(pointer)) >= grown) {
      // Never back: bytes given out once are no longer zero.
      next_ = std::max(next_, static_cast<char*>(pointer) + grown);
      header.size = size;
      return pointer;
    }
  }
  const std::size_t kept = std::min(header.size, size);
  void* moved = allocate(size);
  std::memcpy(moved, pointer, kept);
  release(pointer);
  return moved;
}

}  // namespace quarn
