#include "yaml/Node.h"

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

std::size_t Node::hash() const {
  const Payload& p = *payload();
  std::size_t* cache = nullptr;
  if (p.kind == Kind::mapping) cache = &static_cast<const Stored<Mapping>&>(p).hash;
  if (p.kind == Kind::sequence) cache = &static_cast<const Stored<Sequence>&>(p).hash;
  if (cache && p.hashed) return *cache;
  std::size_t h =
      mix(static_cast<std::size_t>(kind()), std::hash<std::string_view>{}(resolvedTag()));
  if (const Scalar* s = scalar()) {
    h = mix(h, std::hash<std::string_view>{}(s->string));
  } else if (const Mapping* m = mapping()) {
    for (const auto& [key, value] : m->pairs) h = mix(mix(h, key.hash()), value.hash());
  } else if (const Sequence* q = sequence()) {
    for (const Node& item : q->nodes) h = mix(h, item.hash());
  } else if (const Alias* a = alias()) {
    if (a->anchor) h = mix(h, std::hash<std::string_view>{}(a->anchor->name));
  }
  if (cache) {
    *cache = h;
    p.hashed = true;
  }
  return h;
}

bool operator==(const Node& a, const Node& b) {
  if (a.payload() == b.payload()) return true;
  if (a.kind() != b.kind()) return false;
  // Cached hashes settle most unequal pairs without walking the trees.
  if (a.hash() != b.hash()) return false;
  if (a.resolvedTag() != b.resolvedTag()) return false;
  switch (a.kind()) {
    case Node::Kind::scalar:
      return a.scalar()->string == b.scalar()->string;
    case Node::Kind::mapping: {
      const auto& left = a.mapping()->pairs;
      const auto& right = b.mapping()->pairs;
      if (left.size() != right.size()) return false;
      for (std::size_t i = 0; i < left.size(); ++i) {
        if (!(left[i].first == right[i].first) || !(left[i].second == right[i].second))
          return false;
      }
      return true;
    }
    case Node::Kind::sequence: {
      const auto& left = a.sequence()->nodes;
      const auto& right = b.sequence()->nodes;
      if (left.size() != right.size()) return false;
      for (std::size_t i = 0; i < left.size(); ++i) {
        if (!(left[i] == right[i])) return false;
      }
      return true;
    }
    case Node::Kind::alias: {
      const Anchor* left = a.alias()->anchor;
      const Anchor* right = b.alias()->anchor;
      return (left ? left->name : "") == (right ? right->name : "");
    }
  }
  return false;
}

std::optional<std::string> constructString(const Node& node) {
  if (const Node::Mapping* mapping = node.mapping()) {
    for (const auto& [key, value] : mapping->pairs) {
      if (key.resolvedTag() == kValueTag) return constructString(value);
    }
    return std::nullopt;
  }
  if (const Node::Scalar* scalar = node.scalar()) return std::string(scalar->string);
  return std::nullopt;
}

}  // namespace quarn::yaml
