// The storage of one parser's trees: payloads, child runs, texts and anchors
// bump-allocated in blocks and freed together when the parser and the last
// node that refers to it are gone. Only the parser's thread allocates, and
// only while composing; afterwards the arena is read-only but for the tag
// names and hashes that payloads resolve in place. Internal to the YAML layer.
#ifndef QUARN_YAML_ARENA_H_
#define QUARN_YAML_ARENA_H_

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "yaml/Node.h"
#include "yaml/Resolver.h"

namespace quarn::yaml {

class Arena {
 public:
  Arena(std::shared_ptr<const Resolver> rules, std::shared_ptr<const Constructor> builder)
      : resolver(std::move(rules)), constructor(std::move(builder)) {
    for (const Resolver::Rule& rule : resolver->rules()) ruleTags_.push_back(rule.tag);
  }
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;

  // Starts with one reference, the creator's.
  void retain() noexcept { references_.fetch_add(1, std::memory_order_relaxed); }
  void release() noexcept {
    if (references_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }

  void* allocate(std::size_t bytes, std::size_t alignment) {
    auto at = (reinterpret_cast<std::uintptr_t>(next_) + alignment - 1) & ~(alignment - 1);
    if (at + bytes > reinterpret_cast<std::uintptr_t>(end_)) return allocateSlow(bytes);
    next_ = reinterpret_cast<char*>(at + bytes);
    return reinterpret_cast<void*>(at);
  }

  template <typename T, typename... Args>
  T* make(Args&&... args) {
    return new (allocate(sizeof(T), alignof(T))) T{std::forward<Args>(args)...};
  }

  std::string_view copy(std::string_view text) {
    if (text.empty()) return {};
    char* to = static_cast<char*>(allocate(text.size(), 1));
    std::memcpy(to, text.data(), text.size());
    return {to, text.size()};
  }

  // The lasting name object of a name the resolver gave: one of its rules'
  // (fixed once the arena is built, so no allocation after composing) or a
  // well-known constant.
  const std::string_view* resolvedName(std::string_view name) const {
    for (const std::string_view& tag : ruleTags_) {
      if (tag.data() == name.data() && tag.size() == name.size()) return &tag;
    }
    for (const std::string_view* known : {&kStrTag, &kSeqTag, &kMapTag}) {
      if (*known == name) return known;
    }
    for (const std::string_view& tag : ruleTags_) {
      if (tag == name) return &tag;
    }
    return &kStrTag;
  }

  // Keeps `text` as long as the arena, so that node texts may be views into it.
  void keep(std::shared_ptr<const std::string> text) { kept_.push_back(std::move(text)); }

  const std::shared_ptr<const Resolver> resolver;
  const std::shared_ptr<const Constructor> constructor;

 private:
  // Small texts get small first blocks; large ones grow to kMaxBlock, mapped
  // on their own so that the kernel may back them with huge pages: first
  // touches of fresh pages are a large share of composing a big text.
  static constexpr std::size_t kFirstBlock = 4096;
  static constexpr std::size_t kMaxBlock = std::size_t(2) << 20;

  struct Block {
    void* start;
    std::size_t size;
    bool mapped;
  };

  ~Arena() {
    for (const Block& block : blocks_) {
      if (block.mapped) {
        munmap(block.start, block.size);
      } else {
        ::operator delete(block.start);
      }
    }
  }

  static void* mapAligned(std::size_t size) {
    void* raw = mmap(nullptr, size * 2, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) throw std::bad_alloc();
    const auto begin = reinterpret_cast<std::uintptr_t>(raw);
    const auto start = (begin + size - 1) & ~(size - 1);
    if (start > begin) munmap(raw, start - begin);
    munmap(reinterpret_cast<void*>(start + size), begin + size * 2 - (start + size));
#ifdef MADV_HUGEPAGE
    madvise(reinterpret_cast<void*>(start), size, MADV_HUGEPAGE);
#endif
    return reinterpret_cast<void*>(start);
  }

  void* allocateSlow(std::size_t bytes) {
    // Every request is at most max_align_t aligned, which a fresh block is.
    if (bytes > blockSize_ / 4) {
      void* block = ::operator new(bytes);
      blocks_.push_back({block, bytes, false});
      return block;
    }
    blockSize_ = blocks_.empty() ? kFirstBlock : std::min(blockSize_ * 2, kMaxBlock);
    const bool mapped = blockSize_ == kMaxBlock;
    char* block = static_cast<char*>(mapped ? mapAligned(blockSize_) : ::operator new(blockSize_));
    blocks_.push_back({block, blockSize_, mapped});
    next_ = block + bytes;
    end_ = block + blockSize_;
    return block;
  }

  std::atomic<std::size_t> references_{1};
  char* next_ = nullptr;
  char* end_ = nullptr;
  std::size_t blockSize_ = kFirstBlock;
  std::vector<Block> blocks_;
  std::vector<std::string_view> ruleTags_;
  std::vector<std::shared_ptr<const std::string>> kept_;
};

inline constexpr std::string_view kImplicitTag = "";
inline constexpr std::string_view kNonSpecificTag = "!";

// Never destroyed: the arena frees the memory, and nothing in a payload owns
// anything outside it (children do not keep the arena alive).
struct Node::Payload {
  Arena* arena;
  // "" implicit, "!" non-specific, else final; resolution replaces it. Points
  // to a constant, a rule name of the arena or a name kept in the arena.
  mutable const std::string_view* tag;
  Kind kind;
  mutable bool hashed = false;  // collections only
};

template <typename T>
struct Node::Stored : Node::Payload {
  T value;
};

// Collections keep their hash: walking them again (copies of a large
// anchored node) would cost their size each time. A scalar's costs its text.
template <>
struct Node::Stored<Node::Mapping> : Node::Payload {
  Mapping value;
  mutable std::size_t hash = 0;
};
template <>
struct Node::Stored<Node::Sequence> : Node::Payload {
  Sequence value;
  mutable std::size_t hash = 0;
};

}  // namespace quarn::yaml

#endif  // QUARN_YAML_ARENA_H_
