// The document tree of the YAML layer: scalars, mappings, sequences and aliases
// over immutable payloads shared by every copy, so a copy (and every copy that
// replaces an alias) costs one pointer. A parser keeps all payloads, texts and
// anchors of its text in one arena that lives as long as any node of it, so
// composing allocates in bulk and nothing is freed node by node. Payloads are
// compact records; the Scalar, Mapping, Sequence and Alias structs are built
// from them on first request and kept, so walks over a large tree use the
// plain accessors (string, style, pairs, nodes) instead. Tags are
// views of a name kept in the payload and resolved in place, once. Equality
// and hashing look only at kind, text and resolved tag; a collection's hash is
// computed once and kept. Aliases make trees deeper than their text, so no
// walk over a tree recurses. A tree is used by one thread at a time while its
// tags are being resolved.
#ifndef QUARN_YAML_NODE_H_
#define QUARN_YAML_NODE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace quarn::yaml {

class Resolver;
class Constructor;
class Parser;
class Arena;

inline constexpr std::string_view kStrTag = "tag:yaml.org,2002:str";
inline constexpr std::string_view kSeqTag = "tag:yaml.org,2002:seq";
inline constexpr std::string_view kMapTag = "tag:yaml.org,2002:map";
inline constexpr std::string_view kValueTag = "tag:yaml.org,2002:value";

// A position in the text; line and column both count from 1.
struct Mark {
  std::size_t line = 0;
  std::size_t column = 0;
  bool operator==(const Mark&) const = default;
};

// The name of an anchor, shared by every node that carries it. The text lives
// as long as any node of the same text.
struct Anchor {
  std::string_view name;
};

// A read-only run of children, in document order.
template <typename T>
class Items {
 public:
  Items() = default;
  Items(const T* data, std::size_t size) : data_(data), size_(size) {}

  const T* begin() const { return data_; }
  const T* end() const { return data_ + size_; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const T& operator[](std::size_t i) const { return data_[i]; }
  const T& at(std::size_t i) const {
    if (i >= size_) throw std::out_of_range("yaml::Items::at");
    return data_[i];
  }

 private:
  const T* data_ = nullptr;
  std::size_t size_ = 0;
};

class Tag;

class Node {
 public:
  // The design's four kinds. Composing puts each alias's target in its place,
  // so no composed tree holds an alias; the kind is kept as the design names it.
  enum class Kind : unsigned char { scalar, mapping, sequence, alias };
  struct Scalar {
    // The numbers of the event parser's scalar styles.
    enum class Style : unsigned char {
      any = 0,
      plain = 1,
      singleQuoted = 2,
      doubleQuoted = 3,
      literal = 4,
      folded = 5
    };
    std::string_view string;
    Style style = Style::any;
    Mark mark;
    const Anchor* anchor = nullptr;
  };
  struct Mapping;
  struct Sequence;
  struct Alias;

  Node(const Node& other);
  Node(Node&& other) noexcept : bits_(other.bits_) { other.bits_ = 0; }
  Node& operator=(const Node& other);
  Node& operator=(Node&& other) noexcept;
  ~Node() { release(); }

  Kind kind() const;
  // The payload of that kind, or null for a node of another kind. Valid as
  // long as any copy of this node.
  const Scalar* scalar() const;
  const Mapping* mapping() const;
  const Sequence* sequence() const;
  const Alias* alias() const;

  // The same fields without building the structs: a scalar's text and style
  // (empty and `any` for other kinds), a mapping's pairs and a sequence's
  // items (empty for other kinds). Valid as long as any copy of this node.
  std::string_view string() const;
  Scalar::Style style() const;
  Items<std::pair<Node, Node>> pairs() const;
  Items<Node> nodes() const;

  // Shared by all copies of this node; valid as long as any of them.
  Tag tag() const;
  Mark mark() const;

  // The tag name after resolution, resolving it in place on first use: an
  // implicit scalar by its resolver's rules, "!" on a scalar to str; an
  // implicit or "!" sequence to seq and mapping to map. Valid as long as the
  // node.
  std::string_view resolvedTag() const;

  // Hash over kind, text and resolved tags, computed once per collection
  // payload. Walks with a stack of its own: aliases make trees deeper than the
  // text's nesting, without bound.
  std::size_t hash() const;

  // Same kind, equal text or equal children in order, and equal resolved
  // tags; style, mark and anchor play no part. Copies of one node compare
  // equal without walking it, and a pair of payloads is compared once, so the
  // cost follows the payloads, not the paths or the depth of the trees.
  friend bool operator==(const Node& a, const Node& b);

  // True when both are copies of one node (they share one payload).
  bool sharesPayloadWith(const Node& other) const { return payload() == other.payload(); }

 private:
  friend class Parser;
  friend class Tag;
  friend class Arena;
  struct Payload;
  struct Record;
  struct CollectionRecord;

  // The low bit marks a node that keeps its arena alive. Children stored in
  // the arena do not (they would keep it alive for ever); every copy made
  // from them does.
  static constexpr std::uintptr_t kOwns = 1;

  Node(const Payload* payload, bool owns);
  const Payload* payload() const { return reinterpret_cast<const Payload*>(bits_ & ~kOwns); }
  void release() noexcept;

  // The children of a collection as one run: a mapping's keys and values
  // alternate. None for a scalar or an alias.
  std::size_t childCount() const;
  const Node& child(std::size_t i) const;
  static const Record& recordOf(const Payload* payload);
  static const Anchor* anchorOf(const Payload* payload);
  // The hash a collection keeps, or null for a scalar or an alias.
  static std::size_t* hashCache(const Payload& payload);
  // Equal but for the children (whose number must agree).
  static bool sameShallow(const Node& a, const Node& b);

  std::uintptr_t bits_ = 0;
};

// A node's tag: an empty name is implicit (not yet resolved), "!" is
// non-specific, anything else a full tag name. A view of the node's payload,
// so it sees resolution in place; valid as long as the node.
class Tag {
 public:
  std::string_view name() const;

 private:
  friend class Node;
  explicit Tag(const Node::Payload* payload) : payload_(payload) {}
  const Node::Payload* payload_;
};

struct Node::Mapping {
  enum class Style : unsigned char { any, block, flow };
  Items<std::pair<Node, Node>> pairs;  // in document order
  Style style = Style::any;
  Mark mark;
  const Anchor* anchor = nullptr;
};

struct Node::Sequence {
  enum class Style : unsigned char { any, block, flow };
  Items<Node> nodes;  // in document order
  Style style = Style::any;
  Mark mark;
  const Anchor* anchor = nullptr;
};

struct Node::Alias {
  const Anchor* anchor = nullptr;
  Mark mark;
};

// The text of a key: the value entry's text for a mapping that has a pair
// keyed by the value tag, the text of a scalar, nothing otherwise.
std::optional<std::string> constructString(const Node& node);

}  // namespace quarn::yaml

template <>
struct std::hash<quarn::yaml::Node> {
  std::size_t operator()(const quarn::yaml::Node& node) const { return node.hash(); }
};

#endif  // QUARN_YAML_NODE_H_
