#include "yaml/Compose.h"

#include <utility>

namespace quarn::yaml {

Expected<YamlSequence, YamlError> compose_all(std::string yaml,
                                              std::shared_ptr<const Resolver> resolver,
                                              std::shared_ptr<const Constructor> constructor,
                                              Parser::Encoding encoding) {
  return compose_all(std::make_shared<const std::string>(std::move(yaml)), std::move(resolver),
                     std::move(constructor), encoding);
}

Expected<YamlSequence, YamlError> compose_all(std::shared_ptr<const std::string> yaml,
                                              std::shared_ptr<const Resolver> resolver,
                                              std::shared_ptr<const Constructor> constructor,
                                              Parser::Encoding encoding) {
  auto opened =
      Parser::open(std::move(yaml), std::move(resolver), std::move(constructor), encoding);
  if (!opened) return Unexpected(opened.error());
  // std::function needs a copyable callable.
  std::shared_ptr<Parser> parser = std::move(*opened);
  return YamlSequence([parser] { return parser->nextDocument(); });
}

}  // namespace quarn::yaml
