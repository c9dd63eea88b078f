// One text composed document by document over the libyaml event parser. The
// parser owns its input and its anchor registry, which lasts as long as the
// parser, so aliases may refer to anchors of earlier documents. Collections
// nest at most kMaxDepth levels deep: a deeper text fails its pull as soon as
// the bound is passed, which keeps both the stack and the event parser's cost
// per token bounded. One caller and one thread per parser.
#ifndef QUARN_YAML_PARSER_H_
#define QUARN_YAML_PARSER_H_

#include <yaml.h>

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/Expected.h"
#include "yaml/Node.h"
#include "yaml/YamlError.h"

namespace quarn::yaml {

class Parser {
 public:
  enum class Encoding { utf8, utf16 };

  static constexpr std::size_t kMaxDepth = 512;

  // utf16 when the environment variable YAMS_DEFAULT_ENCODING is "utf16" in
  // any letter case, else utf8. Read anew on every call; when the variable
  // names either encoding, a line saying so goes to standard output each time.
  static Encoding defaultEncoding();

  // Opens the stream: `yaml` fed in `encoding` (UTF-16 little-endian without a
  // byte-order mark for utf16; the encoding is never detected) and the stream
  // start consumed. Fails with the event parser's error when it refuses the
  // start of the text. Null resolver or constructor mean the default ones.
  static Expected<std::unique_ptr<Parser>, YamlError> open(
      std::string yaml, std::shared_ptr<const Resolver> resolver,
      std::shared_ptr<const Constructor> constructor, Encoding encoding);

  ~Parser();
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;

  // The next document's root, nothing after the last one, or the failure of
  // this document (syntax, undefined alias, duplicate keys, nesting deeper
  // than kMaxDepth). After a failure every call repeats it; after the end
  // every call gives the end again.
  Expected<std::optional<Node>, YamlError> nextDocument();

 private:
  struct EventParserDeleter {
    void operator()(yaml_parser_t* parser) const;
  };
  class Event;

  Parser(std::string yaml, std::shared_ptr<const Resolver> resolver,
         std::shared_ptr<const Constructor> constructor, Encoding encoding);

  Expected<void, YamlError> pull(Event& event);
  Expected<Node, YamlError> load(Event& event, std::size_t depth);
  Expected<void, YamlError> checkDuplicateKeys(const Node::Mapping& mapping);
  YamlError fail(YamlError error);
  YamlError composerError(std::string problem, Mark mark) const;
  YamlError eventParserError() const;
  std::shared_ptr<const Anchor> makeAnchor(const unsigned char* name) const;
  void registerAnchor(const std::shared_ptr<const Anchor>& anchor, const Node& node);
  std::shared_ptr<Tag> makeTag(std::string_view name);

  std::shared_ptr<const std::string> yaml_;
  std::string input_;  // the bytes the event parser reads when they differ from yaml_
  std::shared_ptr<const Resolver> resolver_;
  std::shared_ptr<const Constructor> constructor_;
  Encoding encoding_;
  std::unique_ptr<yaml_parser_t, EventParserDeleter> parser_;
  std::unordered_map<std::string, Node> anchorMap_;        // anchor name to its latest node
  std::vector<std::shared_ptr<const Anchor>> anchorList_;  // in order of registration
  // Tags whose name resolution leaves unchanged, shared by name.
  std::map<std::string, std::shared_ptr<Tag>, std::less<>> finalTags_;
  std::optional<YamlError> failure_;
  bool ended_ = false;
};

// "utf8" or "utf16".
std::string_view rawValue(Parser::Encoding encoding);

}  // namespace quarn::yaml

#endif  // QUARN_YAML_PARSER_H_
