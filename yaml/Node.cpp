#include "yaml/Node.h"

#include <variant>

#include "yaml/Constructor.h"
#include "yaml/Resolver.h"

namespace quarn::yaml {

namespace {

std::size_t mix(std::size_t seed, std::size_t value) {
  return seed ^ (value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2));
}

std::shared_ptr<Tag> implicitTagIfMissing(std::shared_ptr<Tag> tag) {
  if (tag) return tag;
  return std::make_shared<Tag>("", nullptr, nullptr);
}

}  // namespace

Tag::Tag(std::string_view name, std::shared_ptr<const Resolver> resolver,
         std::shared_ptr<const Constructor> constructor)
    : resolver_(resolver ? std::move(resolver) : Resolver::defaultResolver()),
      constructor_(constructor ? std::move(constructor) : Constructor::defaultConstructor()) {
  // Most tags in a text are one of these; viewing the constant saves an
  // allocation per quoted scalar.
  for (std::string_view known : {kStrTag, kSeqTag, kMapTag, std::string_view("!")}) {
    if (name == known) {
      name_ = known;
      return;
    }
  }
  owned_ = name;
  name_ = owned_;
}

struct Node::Payload {
  std::variant<Scalar, Mapping, Sequence, Alias> value;
  // Cached so that copies of one large node (aliases) are walked only once.
  mutable std::size_t hash = 0;
  mutable bool hashed = false;
};

Node::Node(Scalar scalar) {
  scalar.tag = implicitTagIfMissing(std::move(scalar.tag));
  payload_ = std::make_shared<const Payload>(Payload{std::move(scalar)});
}
Node::Node(Mapping mapping) {
  mapping.tag = implicitTagIfMissing(std::move(mapping.tag));
  payload_ = std::make_shared<const Payload>(Payload{std::move(mapping)});
}
Node::Node(Sequence sequence) {
  sequence.tag = implicitTagIfMissing(std::move(sequence.tag));
  payload_ = std::make_shared<const Payload>(Payload{std::move(sequence)});
}
Node::Node(Alias alias) {
  alias.tag = implicitTagIfMissing(std::move(alias.tag));
  payload_ = std::make_shared<const Payload>(Payload{std::move(alias)});
}

Node::Kind Node::kind() const { return static_cast<Kind>(payload_->value.index()); }
const Node::Scalar* Node::scalar() const { return std::get_if<Scalar>(&payload_->value); }
const Node::Mapping* Node::mapping() const { return std::get_if<Mapping>(&payload_->value); }
const Node::Sequence* Node::sequence() const { return std::get_if<Sequence>(&payload_->value); }
const Node::Alias* Node::alias() const { return std::get_if<Alias>(&payload_->value); }

const std::shared_ptr<Tag>& Node::tag() const {
  return std::visit([](const auto& payload) -> const std::shared_ptr<Tag>& { return payload.tag; },
                    payload_->value);
}

Mark Node::mark() const {
  return std::visit([](const auto& payload) { return payload.mark; }, payload_->value);
}

std::string_view Node::resolvedTag() const {
  Tag& tag = *this->tag();
  if (kind() == Kind::alias) return tag.name_;
  if (tag.name_.empty()) {
    tag.name_ = tag.resolver_->resolveTag(*this);
  } else if (tag.name_ == "!") {
    tag.name_ = kind() == Kind::scalar ? kStrTag : kind() == Kind::sequence ? kSeqTag : kMapTag;
  }
  return tag.name_;
}

std::size_t Node::hash() const {
  if (payload_->hashed) return payload_->hash;
  std::size_t h =
      mix(static_cast<std::size_t>(kind()), std::hash<std::string_view>{}(resolvedTag()));
  if (const Scalar* s = scalar()) {
    h = mix(h, std::hash<std::string>{}(s->string));
  } else if (const Mapping* m = mapping()) {
    for (const auto& [key, value] : m->pairs) h = mix(mix(h, key.hash()), value.hash());
  } else if (const Sequence* q = sequence()) {
    for (const Node& item : q->nodes) h = mix(h, item.hash());
  } else if (const Alias* a = alias()) {
    if (a->anchor) h = mix(h, std::hash<std::string>{}(a->anchor->name));
  }
  payload_->hash = h;
  payload_->hashed = true;
  return h;
}

bool operator==(const Node& a, const Node& b) {
  if (a.payload_ == b.payload_) return true;
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
      const auto& left = a.alias()->anchor;
      const auto& right = b.alias()->anchor;
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
  if (const Node::Scalar* scalar = node.scalar()) return scalar->string;
  return std::nullopt;
}

}  // namespace quarn::yaml
