// Bump allocation in big blocks freed together: the one block allocator under
// the YAML node store and the Markdown render's memory. Blocks come from the
// kernel zeroed, aligned to kLargestBlock so that any small allocation finds
// its block (and the block its owner) by masking its address. Blocks grow
// from a first block up to kLargestBlock, which the kernel may back with huge
// pages: first touches of fresh pages are a large share of building a big
// tree. How they grow is the user's Growth. Each thread keeps a few first
// blocks between arenas, cleared as far as they were used, so a folder of
// small files faults in no fresh pages per file. Requests from kLargeFrom up
// get an allocation of their own that can be freed or grown on its own. Out
// of memory is std::bad_alloc, as from `new`. One thread allocates at a time;
// an arena may be destroyed on any thread.
#ifndef QUARN_BASE_BLOCKARENA_H_
#define QUARN_BASE_BLOCKARENA_H_

#include <cstddef>
#include <cstdint>

namespace quarn {

class BlockArena {
 public:
  static constexpr std::size_t kAlignment = alignof(std::max_align_t);
  static constexpr std::size_t kFirstBlock = std::size_t(256) << 10;
  static constexpr std::size_t kLargestBlock = std::size_t(2) << 20;
  static constexpr std::size_t kLargeFrom = std::size_t(64) << 10;

  // The blocks after the first: doubling up to kLargestBlock, for uses whose
  // memory grows a little at a time, or kLargestBlock at once, for uses that
  // either stay within a small first block or build a large tree, where every
  // block below kLargestBlock faults in page by page.
  struct Growth {
    std::size_t firstBlock;  // a power of two from 4 KiB up to kLargestBlock
    bool doubling;
  };
  static constexpr Growth kDoubling{kFirstBlock, true};

  // `owner` is what ownerOf answers for this arena's small allocations.
  explicit BlockArena(void* owner = nullptr, Growth growth = kDoubling)
      : owner_(owner),
        firstBlock_(growth.firstBlock),
        doubling_(growth.doubling),
        nextBlock_(growth.firstBlock) {}
  ~BlockArena();
  BlockArena(const BlockArena&) = delete;
  BlockArena& operator=(const BlockArena&) = delete;

  // `bytes` zeroed bytes aligned to `alignment` (a power of two, at most
  // kAlignment), valid until the arena goes. A request from kLargeFrom bytes
  // up that the current block cannot hold gets allocateLarge's room instead.
  void* allocate(std::size_t bytes, std::size_t alignment = kAlignment) {
    const auto at = (reinterpret_cast<std::uintptr_t>(next_) + alignment - 1) & ~(alignment - 1);
    if (at + bytes > reinterpret_cast<std::uintptr_t>(end_)) return allocateSlow(bytes);
    newest_ = reinterpret_cast<char*>(at);
    next_ = newest_ + bytes;
    return newest_;
  }

  // Gives the newest allocation made in a block room for `bytes` where it
  // stands: false, changing nothing, for any other pointer or when its block
  // has no room. Shrinking frees nothing, so that the room past the newest
  // allocation stays zero.
  bool resizeInPlace(void* pointer, std::size_t bytes);

  // The owner given to the arena that made `pointer`, an allocate() result of
  // fewer than kLargeFrom bytes.
  static void* ownerOf(const void* pointer) {
    const auto block = reinterpret_cast<std::uintptr_t>(pointer) & ~(kLargestBlock - 1);
    return *reinterpret_cast<void* const*>(block);
  }

  // `bytes` zeroed bytes of their own, aligned to kAlignment; freed with the
  // arena unless released or resized before.
  void* allocateLarge(std::size_t bytes);
  // A large allocation moved or grown to `bytes`, keeping its contents up to
  // the smaller size; bytes gained are not cleared. `pointer` is invalid after.
  void* resizeLarge(void* pointer, std::size_t bytes);
  void releaseLarge(void* pointer);

  // Bytes the arena holds from the system: its blocks and large allocations.
  std::size_t footprint() const { return footprint_; }

 private:
  struct Block;
  struct Large;

  void* allocateSlow(std::size_t bytes);
  void noteUsed();

  void* owner_;
  char* next_ = nullptr;
  char* end_ = nullptr;
  char* newest_ = nullptr;
  Block* blocks_ = nullptr;  // newest first
  Large* large_ = nullptr;
  std::size_t firstBlock_;
  bool doubling_;
  std::size_t nextBlock_;
  std::size_t footprint_ = 0;
};

}  // namespace quarn

#endif  // QUARN_BASE_BLOCKARENA_H_
