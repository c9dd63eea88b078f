// The document tree of the YAML layer: scalars, mappings, sequences and aliases
// over shared, immutable payloads, so a copy (and every copy that replaces an
// alias) costs one pointer. Tags are shared objects resolved in place, once.
// Equality and hashing look only at kind, text and resolved tag; a payload's
// hash is computed once and kept. A tree is used by one thread at a time while
// its tags are being resolved.
#ifndef QUARN_YAML_NODE_H_
#define QUARN_YAML_NODE_H_

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quarn::yaml {

class Resolver;
class Constructor;

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

// The name of an anchor, shared by every node that carries it.
struct Anchor {
  std::string name;
};

// A node's tag. An empty name is implicit (not yet resolved), "!" is
// non-specific, anything else a full tag name. Shared by all copies of a node;
// resolution replaces the name in place.
class Tag {
 public:
  // A null resolver or constructor stands for the default one.
  Tag(std::string_view name, std::shared_ptr<const Resolver> resolver,
      std::shared_ptr<const Constructor> constructor);
  Tag(const Tag&) = delete;
  Tag& operator=(const Tag&) = delete;

  // Valid as long as this tag.
  std::string_view name() const { return name_; }
  const std::shared_ptr<const Resolver>& resolver() const { return resolver_; }
  const std::shared_ptr<const Constructor>& constructor() const { return constructor_; }

 private:
  friend class Node;
  // Well-known names and names resolved by a rule are views of constants the
  // tag keeps alive; only other explicit names are copied into owned_.
  std::string owned_;
  std::string_view name_;
  std::shared_ptr<const Resolver> resolver_;
  std::shared_ptr<const Constructor> constructor_;
};

class Node {
 public:
  enum class Kind { scalar, mapping, sequence, alias };
  struct Scalar;
  struct Mapping;
  struct Sequence;
  struct Alias;

  // A payload without a tag gets an implicit tag of the default resolver.
  explicit Node(Scalar scalar);
  explicit Node(Mapping mapping);
  explicit Node(Sequence sequence);
  explicit Node(Alias alias);

  Kind kind() const;
  // The payload of that kind, or null for a node of another kind. Valid as
  // long as any copy of this node.
  const Scalar* scalar() const;
  const Mapping* mapping() const;
  const Sequence* sequence() const;
  const Alias* alias() const;

  const std::shared_ptr<Tag>& tag() const;
  Mark mark() const;

  // The tag name after resolution, resolving it in place on first use: an
  // implicit scalar by its resolver's rules, "!" on a scalar to str; an
  // implicit or "!" sequence to seq and mapping to map. Valid as long as the
  // node's tag.
  std::string_view resolvedTag() const;

  // Hash over kind, text and resolved tags, computed once per payload.
  // Recurses once per nesting level (trees from compose_all are bounded).
  std::size_t hash() const;

  // Same kind, equal text or equal children in order, and equal resolved
  // tags; style, mark and anchor play no part. Copies of one node compare
  // equal without walking it. Recurses at most as deep as the shallower tree.
  friend bool operator==(const Node& a, const Node& b);

  // True when both are copies of one node (they share one payload).
  bool sharesPayloadWith(const Node& other) const { return payload_ == other.payload_; }

 private:
  struct Payload;
  std::shared_ptr<const Payload> payload_;
};

struct Node::Scalar {
  // The numbers of the event parser's scalar styles.
  enum class Style {
    any = 0,
    plain = 1,
    singleQuoted = 2,
    doubleQuoted = 3,
    literal = 4,
    folded = 5
  };
  std::string string;
  std::shared_ptr<Tag> tag;
  Style style = Style::any;
  Mark mark;
  std::shared_ptr<const Anchor> anchor;
};

struct Node::Mapping {
  enum class Style { any, block, flow };
  std::vector<std::pair<Node, Node>> pairs;  // in document order
  std::shared_ptr<Tag> tag;
  Style style = Style::any;
  Mark mark;
  std::shared_ptr<const Anchor> anchor;
};

struct Node::Sequence {
  enum class Style { any, block, flow };
  std::vector<Node> nodes;  // in document order
  std::shared_ptr<Tag> tag;
  Style style = Style::any;
  Mark mark;
  std::shared_ptr<const Anchor> anchor;
};

struct Node::Alias {
  std::shared_ptr<const Anchor> anchor;
  std::shared_ptr<Tag> tag;
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
