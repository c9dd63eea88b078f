#include "yaml/DuplicateKeys.h"

#include <functional>
#include <string_view>

namespace quarn::yaml {
namespace {

// Node equality for keys, settling scalars by their text before resolving
// their tags: most keys differ in text, so most never run the resolver.
bool sameKey(const Node& a, const Node& b) {
  if (a.sharesPayloadWith(b)) return true;
  const bool left = a.kind() == Node::Kind::scalar;
  const bool right = b.kind() == Node::Kind::scalar;
  if (left && right) return a.string() == b.string() && a.resolvedTag() == b.resolvedTag();
  if (left || right) return false;
  return a == b;
}

// Agrees with sameKey: equal keys have equal kinds, and equal scalar texts.
// Without `byTag` a scalar's tag stays unresolved and out of the hash, which
// spares most keys the resolver but puts keys of one text under many tags in
// one probe chain; the check then starts over with `byTag`.
std::size_t keyHash(const Node& node, bool byTag) {
  if (node.kind() == Node::Kind::scalar && !byTag) {
    return std::hash<std::string_view>{}(node.string());
  }
  return node.hash();
}

}  // namespace

DuplicateKeys::Found DuplicateKeys::find(const Items<std::pair<Node, Node>>& pairs) {
  Found found;
  if (pairs.size() <= kPairwiseLimit) {
    for (std::size_t i = 0; i < pairs.size(); ++i) {
      for (std::size_t j = 0; j < i; ++j) {
        if (!sameKey(pairs[j].first, pairs[i].first)) continue;
        if (!found.firstRepeat) found.firstRepeat = &pairs[i].first;
        bool known = false;
        for (const Node* key : found.firsts) known = known || key == &pairs[j].first;
        if (!known) found.firsts.push_back(&pairs[j].first);
        break;
      }
    }
    return found;
  }
  // The first pair of one text under two tags starts over with tags hashed.
  for (bool byTag : {false, true}) {
    found = Found();
    if (probe(pairs, byTag, found)) break;
  }
  return found;
}

bool DuplicateKeys::probe(const Items<std::pair<Node, Node>>& pairs, bool byTag, Found& found) {
  // Each slot holds 1 + the index of the first key of a group, 0 when free.
  std::size_t capacity = 16;
  while (capacity < pairs.size() * 2) capacity *= 2;
  const std::size_t mask = capacity - 1;
  slots_.assign(capacity, 0);
  slotHashes_.resize(capacity);
  reported_.assign(pairs.size(), false);
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    const Node& key = pairs[i].first;
    const std::size_t h = keyHash(key, byTag);
    for (std::size_t slot = h & mask;; slot = (slot + 1) & mask) {
      if (slots_[slot] == 0) {
        slots_[slot] = static_cast<std::uint32_t>(i + 1);
        slotHashes_[slot] = h;
        break;
      }
      const Node& other = pairs[slots_[slot] - 1].first;
      if (slotHashes_[slot] != h) continue;
      if (!sameKey(other, key)) {
        if (!byTag && key.kind() == Node::Kind::scalar && other.kind() == Node::Kind::scalar &&
            key.string() == other.string()) {
          return false;
        }
        continue;
      }
      const std::size_t first = slots_[slot] - 1;
      if (!reported_[first]) {
        reported_[first] = true;
        found.firsts.push_back(&other);
        if (!found.firstRepeat) found.firstRepeat = &key;
      }
      break;
    }
  }
  return true;
}

}  // namespace quarn::yaml
