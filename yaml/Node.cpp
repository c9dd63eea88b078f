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
  if (owns) payload->arena->retain();
}

// A copy always owns, also of a child stored in the arena: the copy may
// outlive the tree it came from.
Node::Node(const Node& other) : bits_(other.bits_ ? other.bits_ | kOwns : 0) {
  if (const Payload* p = payload()) p->arena->retain();
}

Node& Node::operator=(const Node& other) {
  if (this != &other) {
    if (const Payload* p = other.payload()) p->arena->retain();
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
  if (bits_ & kOwns) payload()->arena->release();
  bits_ = 0;
}

Node::Kind Node::kind() const { return payload()->kind; }

const Node::Scalar* Node::scalar() const {
  const Payload* p = payload();
  return p->kind == Kind::scalar ? &static_cast<const Stored<Scalar>*>(p)->value : nullptr;
}
const Node::Mapping* Node::mapping() const {
  const Payload* p = payload();
  return p->kind == Kind::mapping ? &static_cast<const Stored<Mapping>*>(p)->value : nullptr;
}
const Node::Sequence* Node::sequence() const {
  const Payload* p = payload();
  return p->kind == Kind::sequence ? &static_cast<const Stored<Sequence>*>(p)->value : nullptr;
}
const Node::Alias* Node::alias() const {
  const Payload* p = payload();
  return p->kind == Kind::alias ? &static_cast<const Stored<Alias>*>(p)->value : nullptr;
}

Tag Node::tag() const { return Tag(payload()); }

Mark Node::mark() const {
  switch (kind()) {
    case Kind::scalar:
      return scalar()->mark;
    case Kind::mapping:
      return mapping()->mark;
    case Kind::sequence:
      return sequence()->mark;
    case Kind::alias:
      break;
  }
  return alias()->mark;
}

std::string_view Tag::name() const { return *payload_->tag; }
const std::shared_ptr<const Resolver>& Tag::resolver() const { return payload_->arena->resolver; }
const std::shared_ptr<const Constructor>& Tag::constructor() const {
  return payload_->arena->constructor;
}

std::string_view Node::resolvedTag() const {
  const Payload& p = *payload();
  if (p.kind == Kind::alias) return *p.tag;
  if (p.tag->empty()) {
    p.tag = p.arena->resolvedName(p.arena->resolver->resolveTag(*this));
  } else if (*p.tag == "!") {
    p.tag = p.kind == Kind::scalar ? &kStrTag : p.kind == Kind::sequence ? &kSeqTag : &kMapTag;
  }
  return *p.tag;
}

std::size_t* Node::hashCache(const Payload& p) {
  if (p.kind == Kind::mapping) return &static_cast<const Stored<Mapping>&>(p).hash;
  if (p.kind == Kind::sequence) return &static_cast<const Stored<Sequence>&>(p).hash;
  return nullptr;
}

std::size_t Node::childCount() const {
  if (const Mapping* m = mapping()) return m->pairs.size() * 2;
  if (const Sequence* q = sequence()) return q->nodes.size();
  return 0;
}

// Keys and values of a mapping alternate, as they came from the text.
const Node& Node::child(std::size_t i) const {
  if (const Mapping* m = mapping()) return i % 2 ? m->pairs[i / 2].second : m->pairs[i / 2].first;
  return sequence()->nodes[i];
}

std::size_t Node::hash() const {
  const Payload& p = *payload();
  if (p.hashed) return *hashCache(p);
  std::size_t h =
      mix(static_cast<std::size_t>(kind()), std::hash<std::string_view>{}(resolvedTag()));
  if (const Scalar* s = scalar()) return mix(h, std::hash<std::string_view>{}(s->string));
  if (const Alias* a = alias()) {
    return a->anchor ? mix(h, std::hash<std::string_view>{}(a->anchor->name)) : h;
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
      if (hashCache(c) && !c.hashed) {
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
    done.hashed = true;
    const std::size_t result = top.hash;
    stack.pop_back();
    if (stack.empty()) return result;
    stack.back().hash = mix(stack.back().hash, result);
    ++stack.back().next;
  }
}

bool Node::sameShallow(const Node& a, const Node& b) {
  if (a.kind() != b.kind()) return false;
  if (const Scalar* s = a.scalar()) {
    return s->string == b.scalar()->string && a.resolvedTag() == b.resolvedTag();
  }
  if (const Alias* left = a.alias()) {
    const Anchor* right = b.alias()->anchor;
    return (left->anchor ? left->anchor->name : "") == (right ? right->name : "") &&
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
  while (const Node::Mapping* mapping = at->mapping()) {
    const Node* value = nullptr;
    for (const auto& [key, entry] : mapping->pairs) {
      if (key.resolvedTag() == kValueTag) {
        value = &entry;
        break;
      }
    }
    if (!value) return std::nullopt;
    at = value;
  }
  if (const Node::Scalar* scalar = at->scalar()) return std::string(scalar->string);
  return std::nullopt;
}

}  // namespace quarn::yaml
