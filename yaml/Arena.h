// The storage of one parser's trees: node records, child runs, texts and
// anchors bump-allocated in blocks and freed together when the parser and the
// last node that refers to it are gone. Only the parser's thread allocates in
// the blocks, and only while composing; afterwards they are read-only but for
// the tag codes and hashes that records resolve in place.
//
// A record is small (24 bytes for a scalar, 32 for a collection) because a
// large text's tree is mostly scalars: it finds its arena through the block it
// lies in (every block starts with a pointer to its arena and is aligned to
// its size), names its tag by a one-byte code, and keeps rare fields (anchors,
// explicit tags beyond the code table, sizes and marks past 32 bits) in a
// side table. The public Scalar, Mapping, Sequence and Alias structs are built
// on first request and kept. Internal to the YAML layer.
#ifndef QUARN_YAML_ARENA_H_
#define QUARN_YAML_ARENA_H_

#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "yaml/Node.h"
#include "yaml/Resolver.h"

namespace quarn::yaml {

inline constexpr std::string_view kImplicitTag = "";
inline constexpr std::string_view kNonSpecificTag = "!";

// Tag codes: the first five name fixed tags; then the resolver's rules and the
// explicit names of the text, in order, while the table lasts; the last code
// means the name sits in the side table.
enum TagCode : std::uint8_t {
  kTagImplicit = 0,
  kTagNonSpecific = 1,
  kTagStr = 2,
  kTagSeq = 3,
  kTagMap = 4,
  kTagFirstNamed = 5,
  kTagInExtra = 255,
};

// Every node's record starts with these eight bytes.
struct Node::Payload {
  static constexpr std::uint8_t kHashed = 1;      // a collection's hash is kept
  static constexpr std::uint8_t kSmallBlock = 2;  // lies in the arena's first, small block
  static constexpr std::uint8_t kExtra = 4;       // has an entry in the side table
  static constexpr std::uint8_t kWide = 8;        // size and mark are in the side table

  Kind kind;
  std::uint8_t style;
  mutable std::uint8_t flags;
  mutable std::uint8_t tag;  // a TagCode; resolution replaces it
  // A scalar's text bytes, a mapping's pairs, a sequence's items; the side
  // table's when it does not fit.
  std::uint32_t size;
};

// A scalar (`data` its text), an alias (its Anchor), or the head of a
// collection record (its child run).
struct Node::Record : Node::Payload {
  const void* data;
  std::uint32_t line;  // 1-based, or in the side table when it does not fit
  std::uint32_t column;
};

struct Node::CollectionRecord : Node::Record {
  mutable std::size_t hash;
};

class Arena {
 public:
  // Fields that do not fit a record, or that few records have.
  struct Extra {
    std::size_t size = 0;
    Mark mark;
    const Anchor* anchor = nullptr;
    std::string_view tagName;  // for kTagInExtra
  };

  Arena(std::shared_ptr<const Resolver> rules, std::shared_ptr<const Constructor> builder)
      : resolver(std::move(rules)), constructor(std::move(builder)) {
    names_[kTagImplicit] = kImplicitTag;
    names_[kTagNonSpecific] = kNonSpecificTag;
    names_[kTagStr] = kStrTag;
    names_[kTagSeq] = kSeqTag;
    names_[kTagMap] = kMapTag;
    nameCount_ = kTagFirstNamed;
    for (const Resolver::Rule& rule : resolver->rules()) {
      if (nameCount_ == kTagInExtra) break;
      names_[nameCount_++] = rule.tag;
    }
    ruleEnd_ = nameCount_;
  }
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;

  // Starts with one reference, the creator's.
  void retain() noexcept { references_.fetch_add(1, std::memory_order_relaxed); }
  void release() noexcept {
    if (references_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }

  static Arena* of(const Node::Payload* record) {
    const std::uintptr_t mask =
        (record->flags & Node::Payload::kSmallBlock ? kSmallBlock : kBlock) - 1;
    return *reinterpret_cast<Arena* const*>(reinterpret_cast<std::uintptr_t>(record) & ~mask);
  }

  void* allocate(std::size_t bytes, std::size_t alignment) {
    auto at = (reinterpret_cast<std::uintptr_t>(next_) + alignment - 1) & ~(alignment - 1);
    if (at + bytes > reinterpret_cast<std::uintptr_t>(end_)) return allocateSlow(bytes);
    next_ = reinterpret_cast<char*>(at + bytes);
    return reinterpret_cast<void*>(at);
  }

  // A record in a block, so that Arena::of finds this arena from it.
  template <typename T>
  T* makeRecord(Node::Kind kind, std::uint8_t style, std::uint8_t tag) {
    static_assert(sizeof(T) <= kLargeAllocation);
    auto* record = static_cast<T*>(allocate(sizeof(T), alignof(T)));
    record->kind = kind;
    record->style = style;
    record->flags = smallBlock_ ? Node::Payload::kSmallBlock : 0;
    record->tag = tag;
    record->size = 0;
    return record;
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

  // Keeps `text` as long as the arena, so that node texts may be views into it.
  void keep(std::shared_ptr<const std::string> text) { kept_.push_back(std::move(text)); }

  // The code of an explicit tag name, kept once; kTagInExtra when the table
  // is full. Composing only.
  std::uint8_t explicitTag(std::string_view name) {
    for (std::uint8_t code = kTagNonSpecific; code < nameCount_; ++code) {
      if (names_[code] == name) return code;
    }
    if (nameCount_ == kTagInExtra) return kTagInExtra;
    names_[nameCount_] = copy(name);
    return nameCount_++;
  }
  // The kept text of an explicit name that has no code. Composing only.
  std::string_view keepName(std::string_view name) {
    auto found = overflowNames_.find(name);
    if (found == overflowNames_.end()) {
      const std::string_view kept = copy(name);
      found = overflowNames_.emplace(kept, kept).first;
    }
    return found->second;
  }

  // The code of a name the resolver gave: one of its rules' (by identity
  // first), a well-known name, kTagInExtra for a rule past the code table, or
  // str for anything else.
  std::uint8_t resolvedCode(std::string_view name) const {
    for (std::uint8_t code = kTagFirstNamed; code < ruleEnd_; ++code) {
      if (names_[code].data() == name.data() && names_[code].size() == name.size()) return code;
    }
    for (std::uint8_t code : {kTagStr, kTagSeq, kTagMap}) {
      if (names_[code] == name) return code;
    }
    for (std::uint8_t code = kTagFirstNamed; code < ruleEnd_; ++code) {
      if (names_[code] == name) return code;
    }
    for (const Resolver::Rule& rule : resolver->rules()) {
      if (rule.tag == name) return kTagInExtra;
    }
    return kTagStr;
  }

  std::string_view tagName(const Node::Payload& record) const {
    if (record.tag != kTagInExtra) return names_[record.tag];
    return extra(record).tagName;
  }

  // The side-table entry of a record, made on first use.
  Extra& extraFor(const Node::Payload& record) {
    std::lock_guard lock(mutex_);
    record.flags |= Node::Payload::kExtra;
    return extras_[&record];
  }
  const Extra& extra(const Node::Payload& record) const {
    std::lock_guard lock(mutex_);
    return extras_.at(&record);
  }

  // The public struct of a record, built once and kept as long as the arena.
  template <typename T>
  const T* built(const Node::Payload& record, auto&& build) {
    {
      std::lock_guard lock(mutex_);
      auto found = built_.find(&record);
      if (found != built_.end()) return &std::get<T>(found->second);
    }
    // Built outside the lock, which reading the side table takes; the first
    // struct stored wins.
    T value = build();
    std::lock_guard lock(mutex_);
    return &std::get<T>(built_.emplace(&record, std::move(value)).first->second);
  }

  const std::shared_ptr<const Resolver> resolver;
  const std::shared_ptr<const Constructor> constructor;

 private:
  // The first block is small and aligned to its size, for the many small
  // texts; the rest are large, aligned to their size and mapped on their own
  // so that the kernel may back them with huge pages: first touches of fresh
  // pages are a large share of composing a big text.
  static constexpr std::size_t kSmallBlock = std::size_t(64) << 10;
  static constexpr std::size_t kBlock = std::size_t(2) << 20;
  static constexpr std::size_t kHeader = alignof(std::max_align_t);
  static constexpr std::size_t kLargeAllocation = std::size_t(16) << 10;

  struct Block {
    void* start;
    std::size_t size;
    enum { small, mapped, heap } type;
  };

  ~Arena() {
    for (const Block& block : blocks_) {
      switch (block.type) {
        case Block::small:
          std::free(block.start);
          break;
        case Block::mapped:
          munmap(block.start, block.size);
          break;
        case Block::heap:
          ::operator delete(block.start);
          break;
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
    // Every request is at most max_align_t aligned, which a fresh block and
    // its header are. Large runs (never records) get blocks of their own.
    if (bytes > kLargeAllocation) {
      void* block = ::operator new(bytes);
      blocks_.push_back({block, bytes, Block::heap});
      return block;
    }
    char* block;
    if (blocks_.empty()) {
      block = static_cast<char*>(std::aligned_alloc(kSmallBlock, kSmallBlock));
      if (!block) throw std::bad_alloc();
      blocks_.push_back({block, kSmallBlock, Block::small});
      smallBlock_ = true;
      end_ = block + kSmallBlock;
    } else {
      block = static_cast<char*>(mapAligned(kBlock));
      blocks_.push_back({block, kBlock, Block::mapped});
      smallBlock_ = false;
      end_ = block + kBlock;
    }
    *reinterpret_cast<Arena**>(block) = this;
    next_ = block + kHeader + bytes;
    return block + kHeader;
  }

  std::atomic<std::size_t> references_{1};
  char* next_ = nullptr;
  char* end_ = nullptr;
  bool smallBlock_ = false;
  std::vector<Block> blocks_;
  // Tag names by code: fixed once written, so readers need no lock.
  std::array<std::string_view, 256> names_;
  std::uint8_t nameCount_ = 0;
  std::uint8_t ruleEnd_ = 0;
  std::unordered_map<std::string_view, std::string_view> overflowNames_;
  std::vector<std::shared_ptr<const std::string>> kept_;
  mutable std::mutex mutex_;
  std::unordered_map<const Node::Payload*, Extra> extras_;
  std::unordered_map<const Node::Payload*,
                     std::variant<Node::Scalar, Node::Mapping, Node::Sequence, Node::Alias>>
      built_;
};

}  // namespace quarn::yaml

#endif  // QUARN_YAML_ARENA_H_
