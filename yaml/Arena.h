// The storage of one parser's trees: node records, child runs, texts and
// anchors bump-allocated in a BlockArena and freed together when the parser
// and the last node that refers to it are gone. Only the parser's thread
// allocates in the blocks, and only while composing; afterwards they are
// read-only but for the tag codes and hashes that records resolve in place.
//
// A record is small (24 bytes for a scalar, 32 for a collection) because a
// large text's tree is mostly scalars: it finds its arena through the block it
// lies in (BlockArena::ownerOf), names its tag by a one-byte code, and keeps
// rare fields (anchors, explicit tags beyond the code table, sizes and marks
// past 32 bits) in a side table. The public Scalar, Mapping, Sequence and Alias structs are built
// on first request and kept; those tables live in Arena.cpp. Internal to the
// YAML layer.
#ifndef QUARN_YAML_ARENA_H_
#define QUARN_YAML_ARENA_H_

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "base/BlockArena.h"
#include "yaml/Node.h"

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
  static constexpr std::uint8_t kHashed = 1;  // a collection's hash is kept
  static constexpr std::uint8_t kExtra = 4;   // has an entry in the side table
  static constexpr std::uint8_t kWide = 8;    // size and mark are in the side table

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

  Arena(std::shared_ptr<const Resolver> rules, std::shared_ptr<const Constructor> builder);
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;

  // Starts with one reference, the creator's.
  void retain() noexcept { references_.fetch_add(1, std::memory_order_relaxed); }
  void release() noexcept {
    if (references_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }

  static Arena* of(const Node::Payload* record) {
    return static_cast<Arena*>(BlockArena::ownerOf(record));
  }

  void* allocate(std::size_t bytes, std::size_t alignment) {
    return blocks_.allocate(bytes, alignment);
  }

  // A record in a block, so that Arena::of finds this arena from it.
  template <typename T>
  T* makeRecord(Node::Kind kind, std::uint8_t style, std::uint8_t tag) {
    static_assert(sizeof(T) < BlockArena::kLargeFrom);
    auto* record = static_cast<T*>(allocate(sizeof(T), alignof(T)));
    record->kind = kind;
    record->style = style;
    record->flags = 0;
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
  void keep(std::shared_ptr<const std::string> text);

  // The code of an explicit tag name, kept once; kTagInExtra when the table
  // is full. Composing only.
  std::uint8_t explicitTag(std::string_view name);
  // The kept text of an explicit name that has no code. Composing only.
  std::string_view keepName(std::string_view name);

  // The code of a name the resolver gave: one of its rules' (by identity
  // first), a well-known name, kTagInExtra for a rule past the code table, or
  // str for anything else.
  std::uint8_t resolvedCode(std::string_view name) const;

  std::string_view tagName(const Node::Payload& record) const {
    if (record.tag != kTagInExtra) return names_[record.tag];
    return extra(record).tagName;
  }

  // The side-table entry of a record, made on first use.
  Extra& extraFor(const Node::Payload& record);
  const Extra& extra(const Node::Payload& record) const;

  // The public struct of a record, made by `build` on first request and kept
  // as long as the arena; when two threads race, the first stored wins.
  const Node::Scalar* built(const Node::Payload& record,
                            Node::Scalar (*build)(const Node::Payload&));
  const Node::Mapping* built(const Node::Payload& record,
                             Node::Mapping (*build)(const Node::Payload&));
  const Node::Sequence* built(const Node::Payload& record,
                              Node::Sequence (*build)(const Node::Payload&));
  const Node::Alias* built(const Node::Payload& record, Node::Alias (*build)(const Node::Payload&));

  const std::shared_ptr<const Resolver> resolver;
  const std::shared_ptr<const Constructor> constructor;

 private:
  struct Tables;

  ~Arena();
  template <typename T>
  const T* builtWith(const Node::Payload& record, T (*build)(const Node::Payload&));

  // First, so that it goes last: everything else may point into it. A small
  // first block for front matter and settings files; past it a text is large
  // and its tree goes straight into huge-page blocks.
  BlockArena blocks_{this, {std::size_t(64) << 10, false}};
  std::atomic<std::size_t> references_{1};
  // Tag names by code: fixed once written, so readers need no lock.
  std::array<std::string_view, 256> names_;
  std::uint8_t nameCount_ = 0;
  std::uint8_t ruleEnd_ = 0;
  std::unique_ptr<Tables> tables_;
};

}  // namespace quarn::yaml

#endif  // QUARN_YAML_ARENA_H_
