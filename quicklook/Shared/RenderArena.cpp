#include "quicklook/Shared/RenderArena.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/Budget.h"

namespace quarn {
namespace {

constexpr std::size_t kAlignment = RenderArena::kAlignment;
static_assert(kAlignment <= BlockArena::kAlignment);

thread_local RenderArena* tArena = nullptr;

// Every allocation is preceded by its size and whether it is a large one.
struct Header {
  std::size_t size;
  std::size_t large;
};
static_assert(sizeof(Header) % kAlignment == 0);

Header& headerOf(void* pointer) { return *(static_cast<Header*>(pointer) - 1); }

std::size_t aligned(std::size_t size) { return (size + kAlignment - 1) & ~(kAlignment - 1); }

// The room a small block of `size` bytes takes (an empty one still takes some).
std::size_t capacityFor(std::size_t size) { return aligned(std::max<std::size_t>(size, 1)); }

// Larger requests get allocations of their own: they are few, and they grow
// by realloc.
bool isLarge(std::size_t size) { return size >= BlockArena::kLargeFrom - sizeof(Header); }

// As with the library's own allocator, a failed allocation ends the process
// (its callers do not check, and no exception may cross its C frames); under
// a budget it ends as the budget says.
[[noreturn]] void outOfMemory() { Budget::exhausted(); }

}  // namespace

struct RenderArena::Reused {
  Reused* next;
};

RenderArena::RenderArena() : previous_(tArena) { tArena = this; }

RenderArena::~RenderArena() { tArena = previous_; }

cmark_mem* RenderArena::allocator() {
  static cmark_mem mem = {&RenderArena::calloc, &RenderArena::realloc, &RenderArena::free};
  return &mem;
}

void* RenderArena::calloc(std::size_t count, std::size_t size) try {
  if (size != 0 && count > SIZE_MAX / size) outOfMemory();
  return tArena->allocate(count * size);
} catch (const std::bad_alloc&) {
  outOfMemory();
}

void* RenderArena::realloc(void* pointer, std::size_t size) try {
  return pointer ? tArena->resize(pointer, size) : tArena->allocate(size);
} catch (const std::bad_alloc&) {
  outOfMemory();
}

void RenderArena::free(void* pointer) {
  if (pointer) tArena->release(pointer);
}

// Zeroed memory: fresh room in a block, or a block given back, cleared.
void* RenderArena::allocate(std::size_t size) {
  if (isLarge(size)) {
    auto* header = static_cast<Header*>(blocks_.allocateLarge(sizeof(Header) + size));
    *header = {size, 1};
    return header + 1;
  }
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
  auto* header = static_cast<Header*>(blocks_.allocate(sizeof(Header) + capacity, kAlignment));
  *header = {size, 0};
  return header + 1;
}

void RenderArena::release(void* pointer) {
  const Header& header = headerOf(pointer);
  if (header.large) {
    blocks_.releaseLarge(&headerOf(pointer));
    return;
  }
  // Others stay until the arena goes.
  const std::size_t capacity = capacityFor(header.size);
  if (capacity <= kReusedUpTo) {
    auto* block = static_cast<Reused*>(pointer);
    block->next = reused_[capacity / kAlignment];
    reused_[capacity / kAlignment] = block;
  }
}

void* RenderArena::resize(void* pointer, std::size_t size) {
  Header& header = headerOf(pointer);
  if (header.large && isLarge(size)) {
    auto* moved = static_cast<Header*>(blocks_.resizeLarge(&header, sizeof(Header) + size));
    moved->size = size;
    return moved + 1;
  }
  // The newest small block grows where it is while its block has room.
  if (!header.large && !isLarge(size) &&
      blocks_.resizeInPlace(&header, sizeof(Header) + capacityFor(size))) {
    header.size = size;
    return pointer;
  }
  const std::size_t kept = std::min(header.size, size);
  void* moved = allocate(size);
  std::memcpy(moved, pointer, kept);
  release(pointer);
  return moved;
}

}  // namespace quarn
