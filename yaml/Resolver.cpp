#include "yaml/Resolver.h"

#include <utility>

#include "yaml/Node.h"

namespace quarn::yaml {

Expected<Resolver::Rule, RegexError> Resolver::Rule::make(std::string tag,
                                                          std::string_view pattern) {
  auto regexp = Regex::compile(pattern);
  if (!regexp) return Unexpected(std::move(regexp.error()));
  return Rule{std::move(tag), std::move(*regexp)};
}

const std::shared_ptr<const Resolver>& Resolver::defaultResolver() {
  static const std::shared_ptr<const Resolver> instance = [] {
    static constexpr std::pair<const char*, const char*> kRules[] = {
        {"tag:yaml.org,2002:bool",
         "^(?:yes|Yes|YES|no|No|NO|true|True|TRUE|false|False|FALSE|on|On|ON|off|Off|OFF)$"},
        {"tag:yaml.org,2002:int",
         "^(?:[-+]?0b[0-1_]+|[-+]?0o?[0-7_]+|[-+]?(?:0|[1-9][0-9_]*)|[-+]?0x[0-9a-fA-F_]+|"
         "[-+]?[1-9][0-9_]*(?::[0-5]?[0-9])+)$"},
        {"tag:yaml.org,2002:float",
         "^(?:[-+]?(?:[0-9][0-9_]*)(?:\\.[0-9_]*)?(?:[eE][-+]?[0-9]+)?|\\.[0-9_]+(?:[eE][-+][0-9]+)"
         "?"
         "|[-+]?[0-9][0-9_]*(?::[0-5]?[0-9])+\\.[0-9_]*|[-+]?\\.(?:inf|Inf|INF)|\\.(?:nan|NaN|NAN))"
         "$"},
        {"tag:yaml.org,2002:merge", "^(?:<<)$"},
        {"tag:yaml.org,2002:null", "^(?:~|null|Null|NULL|)$"},
        {"tag:yaml.org,2002:timestamp",
         "^(?:[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]|[0-9][0-9][0-9][0-9]-[0-9][0-9]?-[0-9][0-"
         "9]?"
         "(?:[Tt]|[ \\t]+)[0-9][0-9]?:[0-9][0-9]:[0-9][0-9](?:\\.[0-9]*)?"
         "(?:[ \\t]*(?:Z|[-+][0-9][0-9]?(?::[0-9][0-9])?))?)$"},
        {"tag:yaml.org,2002:value", "^(?:=)$"},
    };
    std::vector<Rule> rules;
    for (const auto& [tag, pattern] : kRules) {
      // Fixed patterns: one that failed to compile in a release build would
      // only leave its texts resolving to str.
      if (auto regexp = Regex::compileConstant(pattern)) {
        rules.push_back(Rule{tag, std::move(*regexp)});
      }
    }
    return std::make_shared<const Resolver>(std::move(rules));
  }();
  return instance;
}

std::string_view Resolver::resolveTag(std::string_view text) const {
  for (const Rule& rule : rules_) {
    if (rule.regexp.firstMatch(text)) return rule.tag;
  }
  return kStrTag;
}

std::string_view Resolver::resolveTag(const Node& node) const {
  switch (node.kind()) {
    case Node::Kind::scalar:
      return resolveTag(node.string());
    case Node::Kind::mapping:
      return kMapTag;
    case Node::Kind::sequence:
      return kSeqTag;
    case Node::Kind::alias:
      break;
  }
  return node.tag().name();
}

}  // namespace quarn::yaml
