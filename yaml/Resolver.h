// Implicit tags of plain scalars by an ordered table of regular-expression
// rules. A Resolver is immutable once built and may be shared between threads;
// the default one is built once per process.
#ifndef QUARN_YAML_RESOLVER_H_
#define QUARN_YAML_RESOLVER_H_

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Expected.h"
#include "base/Regex.h"

namespace quarn::yaml {

class Node;

class Resolver {
 public:
  struct Rule {
    std::string tag;
    Regex regexp;

    // A rule whose pattern is searched over the whole text; the reason when
    // the pattern does not compile.
    static Expected<Rule, RegexError> make(std::string tag, std::string_view pattern);
  };

  explicit Resolver(std::vector<Rule> rules) : rules_(std::move(rules)) {}

  // The process-wide resolver with the seven rules bool, int, float, merge,
  // null, timestamp and value, in that order. Built once, thread-safely.
  static const std::shared_ptr<const Resolver>& defaultResolver();

  const std::vector<Rule>& rules() const { return rules_; }

  // The tag of the first rule that matches anywhere in `text`, else str.
  // Valid as long as this resolver.
  std::string_view resolveTag(std::string_view text) const;
  // A scalar's text resolved as above; map for a mapping, seq for a sequence;
  // an alias keeps its tag name. Valid as long as this resolver and the node.
  std::string_view resolveTag(const Node& node) const;

 private:
  std::vector<Rule> rules_;
};

}  // namespace quarn::yaml

#endif  // QUARN_YAML_RESOLVER_H_
