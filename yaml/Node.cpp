#include "yaml/Node.h"

#include <unordered_set>
#include <vector>

#include "yaml/Arena.h"
#include "yaml/Constructor.h"
#include "yaml/Resolver.h"

namespace quarn::yaml {

namespace {

std::size_t mix(std::size_t seed, std::size_t value) {
  return seed ^ (value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2));
}

}  // namespace

Node::Node(const Payload* payload, bool owns)
    : bits_(reinterpret_cast<std::uintptr_t>(payload) | (owns ? kOwns : 0)) {
  if (owns) Arena::of(payload)->retain();
}

// A copy always owns, also of a child stored in the arena: the copy may
// outlive the tree it came from.
Node::Node(const Node& other) : bits_(other.bits_ ? other.bits_ | kOwns : 0) {
  if (const Payload* p = payload()) Arena::of(p)->retain();
}

Node& Node::operator=(const Node& other) {
  if (this != &other) {
    if (const Payload* p = other.payload()) Arena::of(p)->retain();
    release();
    bits_ = other.bits_ ? other.bits_ | kOwns : 0;
  }
  return *this;
}

Node& Node::operator=(Node&& other) noexcept {
  if (this != &other) {
    release();
    bits_ = other.bits_;
    other.bits_ = 0;
  }
  return *this;
}

void Node::release() noexcept {
  if (bits_ & kOwns) Arena::of(payload())->release();
  bits_ = 0;
}

const Node::Record& Node::recordOf(const Payload* p) { return *static_cast<const Record*>(p); }

Node::Kind Node::kind() const { return payload()->kind; }

std::string_view Node::string() const {
  const Payload* p = payload();
  if (p->kind != Kind::scalar) return {};
  const std::size_t size =
      p->flags & Payload::kWide ? Arena::of(p)->extra(*p).size : std::size_t{p->size};
  return {static_cast<const char*>(recordOf(p).data), size};
}

Node::Scalar::Style Node::style() const {
  const Payload* p = payload();
  return p->kind == Kind::scalar ? static_cast<Scalar::Style>(p->style) : Scalar::Style::any;
}

Items<std::pair<Node, Node>> Node::pairs() const {
  const Payload* p = payload();
  if (p->kind != Kind::mapping) return {};
  const std::size_t size =
      p->flags & Payload::kWide ? Arena::of(p)->extra(*p).size : std::size_t{p->size};
  return {static_cast<const std::pair<Node, Node>*>(recordOf(p).data), size};
}

Items<Node> Node::nodes() const {
  const Payload* p = payload();
  if (p->kind != Kind::sequence) return {};
  const std::size_t size =
      p->flags & Payload::kWide ? Arena::of(p)->extra(*p).size : std::size_t{p->size};
  return {static_cast<const Node*>(recordOf(p).data), size};
}

Mark Node::mark() const {
  const Payload* p = payload();
  if (p->flags & Payload::kWide) return Arena::of(p)->extra(*p).mark;
  return Mark{recordOf(p).line, recordOf(p).column};
}

const Anchor* Node::anchorOf(const Payload* p) {
  if (p->kind == Kind::alias) return static_cast<const Anchor*>(recordOf(p).data);
  return p->flags & Payload::kExtra ? Arena::of(p)->extra(*p).anchor : nullptr;
}

// The builders see a record through a node that does not own it.
const Node::Scalar* Node::scalar() const {
  const Payload* p = payload();
  if (p->kind != Kind::scalar) return nullptr;
  return Arena::of(p)->built(*p, [](const Payload& q) {
    const Node node(&q, false);
    return Scalar{node.string(), node.style(), node.mark(), anchorOf(&q)};
  });
}
const Node::Mapping* Node::mapping() const {
  const Payload* p = payload();
  if (p->kind != Kind::mapping) return nullptr;
  return Arena::of(p)->built(*p, [](const Payload& q) {
    const Node node(&q, false);
    return Mapping{node.pairs(), static_cast<Mapping::Style>(q.style), node.mark(), anchorOf(&q)};
  });
}
const Node::Sequence* Node::sequence() const {
  const Payload* p = payload();
  if (p->kind != Kind::sequence) return nullptr;
  return Arena::of(p)->built(*p, [](const Payload& q) {
    const Node node(&q, false);
    return Sequence{node.nodes(), static_cast<Sequence::Style>(q.style), node.mark(), anchorOf(&q)};
  });
}
const Node::Alias* Node::alias() const {
  const Payload* p = payload();
  if (p->kind != Kind::alias) return nullptr;
  return Arena::of(p)->built(*p, [](const Payload& q) {
    return Alias{anchorOf(&q), Node(&q, false).mark()};
  });
}

Tag Node::tag() const { return Tag(payload()); }

std::string_view Tag::name() const { return Arena::of(payload_)->tagName(*payload_); }

std::string_view Node::resolvedTag() const {
  const Payload& p = *payload();
  Arena* arena = Arena::of(&p);
  if (p.kind == Kind::alias) return arena->tagName(p);
  if (p.tag == kTagImplicit) {
    const std::string_view name = arena->resolver->resolveTag(*this);
    const std::uint8_t code = arena->resolvedCode(name);
    if (code == kTagInExtra) arena->extraFor(p).tagName = name;
    p.tag = code;
  } else if (p.tag == kTagNonSpecific) {
    p.tag = p.kind == Kind::scalar ? kTagStr : p.kind == Kind::sequence ? kTagSeq : kTagMap;
  }
  return arena->tagName(p);
}

std::size_t* Node::hashCache(const Payload& p) {
  if (p.kind == Kind::mapping || p.kind == Kind::sequence) {
    return &static_cast<const CollectionRecord&>(p).hash;
  }
  return nullptr;
}

std::size_t Node::childCount() const {
  const Kind k = kind();
  if (k == Kind::mapping) return pairs().size() * 2;
  if (k == Kind::sequence) return nodes().size();
  return 0;
}

// Keys and values of a mapping alternate, as they came from the text.
const Node& Node::child(std::size_t i) const {
  if (kind() == Kind::mapping) {
    const auto& pair = pairs()[i / 2];
    return i % 2 ? pair.second : pair.first;
  }
  return nodes()[i];
}

std::size_t Node::hash() const {
  const Payload& p = *payload();
  if (p.flags & Payload::kHashed) return *hashCache(p);
  std::size_t h =
      mix(static_cast<std::size_t>(kind()), std::hash<std::string_view>{}(resolvedTag()));
  if (p.kind == Kind::scalar) return mix(h, std::hash<std::string_view>{}(string()));
  if (p.kind == Kind::alias) {
    const Anchor* anchor = anchorOf(&p);
    return anchor ? mix(h, std::hash<std::string_view>{}(anchor->name)) : h;
  }
  // Aliases make trees deeper than any stack, so collections are hashed
  // children first from an explicit stack; each payload once, then kept.
  struct Frame {
    const Node* node;
    std::size_t next;
    std::size_t hash;
  };
  std::vector<Frame> stack{{this, 0, h}};
  for (;;) {
    Frame& top = stack.back();
    if (top.next < top.node->childCount()) {
      const Node& child = top.node->child(top.next);
      const Payload& c = *child.payload();
      if (hashCache(c) && !(c.flags & Payload::kHashed)) {
        stack.push_back({&child, 0,
                         mix(static_cast<std::size_t>(c.kind),
                             std::hash<std::string_view>{}(child.resolvedTag()))});
        continue;
      }
      top.hash = mix(top.hash, child.hash());
      ++top.next;
      continue;
    }
    const Payload& done = *top.node->payload();
    *hashCache(done) = top.hash;
    done.flags |= Payload::kHashed;
    const std::size_t result = top.hash;
    stack.pop_back();
    if (stack.empty()) return result;
    stack.back().hash = mix(stack.back().hash, result);
    ++stack.back().next;
  }
}

bool Node::sameShallow(const Node& a, const Node& b) {
  if (a.kind() != b.kind()) return false;
  if (a.kind() == Kind::scalar) {
    return a.string() == b.string() && a.resolvedTag() == b.resolvedTag();
  }
  if (a.kind() == Kind::alias) {
    const Anchor* left = anchorOf(a.payload());
    const Anchor* right = anchorOf(b.payload());
    return (left ? left->name : "") == (right ? right->name : "") &&
           a.resolvedTag() == b.resolvedTag();
  }
  // Kept hashes settle most unequal pairs without walking the trees.
  return a.hash() == b.hash() && a.childCount() == b.childCount() &&
         a.resolvedTag() == b.resolvedTag();
}

namespace {

struct PayloadPairHash {
  std::size_t operator()(const std::pair<const void*, const void*>& pair) const {
    return std::hash<const void*>{}(pair.first) * 31 + std::hash<const void*>{}(pair.second);
  }
};

}  // namespace

bool operator==(const Node& a, const Node& b) {
  if (a.payload() == b.payload()) return true;
  if (!Node::sameShallow(a, b)) return false;
  if (!a.childCount()) return true;
  // Equality is every pair of children equal: the pairs are checked from a
  // work list rather than by recursion (alias-made depth), and a pair of
  // payloads met again is skipped, so trees that share nodes cost their
  // payloads, not their paths.
  std::vector<std::pair<const Node*, const Node*>> work{{&a, &b}};
  std::unordered_set<std::pair<const void*, const void*>, PayloadPairHash> seen;
  while (!work.empty()) {
    const auto [left, right] = work.back();
    work.pop_back();
    for (std::size_t i = 0; i < left->childCount(); ++i) {
      const Node& x = left->child(i);
      const Node& y = right->child(i);
      if (x.payload() == y.payload()) continue;
      if (!Node::sameShallow(x, y)) return false;
      if (x.childCount() && seen.emplace(x.payload(), y.payload()).second) work.push_back({&x, &y});
    }
  }
  return true;
}

std::optional<std::string> constructString(const Node& node) {
  // A loop, not recursion: aliases can chain value entries without bound.
  const Node* at = &node;
  while (at->kind() == Node::Kind::mapping) {
    const Node* value = nullptr;
    for (const auto& [key, entry] : at->pairs()) {
      if (key.resolvedTag() == kValueTag) {
        value = &entry;
        break;
      }
    }
    if (!value) return std::nullopt;
    at = value;
  }
  if (at->kind() == Node::Kind::scalar) return std::string(at->string());
  return std::nullopt;
}

}  // namespace quarn::yaml
