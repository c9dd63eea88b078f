// The entry point of the YAML layer: a text as a lazy sequence of document
// trees. Each pull composes one more document; nothing is composed ahead.
#ifndef QUARN_YAML_COMPOSE_H_
#define QUARN_YAML_COMPOSE_H_

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/Expected.h"
#include "yaml/Node.h"
#include "yaml/Parser.h"
#include "yaml/YamlError.h"

namespace quarn::yaml {

// Documents one at a time from a stored pulling function that may fail. Keeps
// its parser (and so every anchor of the text) alive while it lives.
class YamlSequence {
 public:
  using Pull = std::function<Expected<std::optional<Node>, YamlError>()>;

  explicit YamlSequence(Pull pull) : pull_(std::move(pull)) {}

  // The next document's root, nothing after the last document, or the failure
  // of the next document (documents pulled before it stay intact). Pulling
  // again after a failure repeats it; after the end, gives the end.
  Expected<std::optional<Node>, YamlError> next() { return pull_(); }

 private:
  Pull pull_;
};

// Opens `yaml` (JSON alike) with the given resolver, constructor and input
// encoding; fails when the event parser refuses the start of the text. Null
// resolver or constructor mean the default ones.
Expected<YamlSequence, YamlError> compose_all(std::string yaml,
                                              std::shared_ptr<const Resolver> resolver,
                                              std::shared_ptr<const Constructor> constructor,
                                              Parser::Encoding encoding);
// The same over a text the caller shares with the parser instead of copying it.
Expected<YamlSequence, YamlError> compose_all(std::shared_ptr<const std::string> yaml,
                                              std::shared_ptr<const Resolver> resolver,
                                              std::shared_ptr<const Constructor> constructor,
                                              Parser::Encoding encoding);

}  // namespace quarn::yaml

#endif  // QUARN_YAML_COMPOSE_H_
