// The duplicate-key check of a mapping: which keys repeat an earlier one of
// the same mapping, equal as nodes are (kind, text or children, resolved tag).
// Few keys are compared pairwise, more through an open-addressing table kept
// for reuse, so a check allocates only while its mappings grow. Resolves the
// tags of keys it needs to compare; one thread per checker.
#ifndef QUARN_YAML_DUPLICATEKEYS_H_
#define QUARN_YAML_DUPLICATEKEYS_H_

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "yaml/Node.h"

namespace quarn::yaml {

class DuplicateKeys {
 public:
  // Up to this many keys pairwise comparison (with the cached hashes) beats
  // building a table.
  static constexpr std::size_t kPairwiseLimit = 8;

  struct Found {
    // The first key of each group of equal keys, in the order the groups
    // first repeat; empty when every key differs.
    std::vector<const Node*> firsts;
    const Node* firstRepeat = nullptr;  // the earliest key equal to one before it
  };

  // The repeated keys of `pairs`; the pointers point into `pairs`.
  Found find(const Items<std::pair<Node, Node>>& pairs);

 private:
  // The table pass. Without `byTag` scalar keys are hashed by text alone
  // (most then never run the resolver); it gives up, answering false, at two
  // keys of one text and different tags, which would otherwise all share one
  // probe chain.
  bool probe(const Items<std::pair<Node, Node>>& pairs, bool byTag, Found& found);

  std::vector<std::uint32_t> slots_;
  std::vector<std::size_t> slotHashes_;
  std::vector<bool> reported_;
};

}  // namespace quarn::yaml

#endif  // QUARN_YAML_DUPLICATEKEYS_H_
