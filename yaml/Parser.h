// One text composed document by document over the libyaml event parser. The
// parser owns its input and its anchor registry, which lasts as long as the
// parser, so aliases may refer to anchors of earlier documents. Collections
// nest at most kMaxDepth levels deep: a deeper text fails its pull as soon as
// the bound is passed, which keeps both the stack and the event parser's cost
// per token bounded. One caller and one thread per parser.
#ifndef QUARN_YAML_PARSER_H_
#define QUARN_YAML_PARSER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include <yaml.h>

#include "base/Expected.h"
#include "yaml/DuplicateKeys.h"
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
      std::shared_ptr<const std::string> yaml, std::shared_ptr<const Resolver> resolver,
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

  Parser(std::shared_ptr<const std::string> yaml, std::shared_ptr<const Resolver> resolver,
         std::shared_ptr<const Constructor> constructor, Encoding encoding);

  // These three answer false or null on failure, which failure_ then holds:
  // a result type as large as the error costs a clearing on every event.
  bool pull(Event& event);
  const Node::Payload* load(Event& event, std::size_t depth);
  // Loads the nodes of a collection onto children_ until the event of
  // `endType`; false (with the failure stored) past the depth bound or on error.
  bool loadChildren(int endType, std::size_t depth, const Mark& mark);
  bool checkDuplicateKeys(const Items<std::pair<Node, Node>>& pairs);
  YamlError fail(YamlError error);
  YamlError composerError(std::string problem, Mark mark) const;
  YamlError eventParserError() const;
  const Anchor* makeAnchor(const unsigned char* name);
  void registerAnchor(const Anchor* anchor, const Node::Payload* node);
  // The tag code of an event's tag name (empty: implicit), with the kept name
  // when it has no code.
  std::pair<std::uint8_t, std::string_view> makeTag(std::string_view name);
  // A scalar's value as a view into the input when the text holds it verbatim
  // there, else a copy in the arena.
  std::string_view scalarText(const yaml_event_t& event);
  // A node record with the rare fields (anchor, uncoded tag, wide size or
  // mark) put in the side table.
  Node::Record* makeRecord(Node::Kind kind, bool collection, std::uint8_t style,
                           std::pair<std::uint8_t, std::string_view> tag, const void* data,
                           std::size_t size, Mark mark, const Anchor* anchor);

  std::shared_ptr<const std::string> yaml_;
  std::shared_ptr<const std::string> input_;  // the bytes the event parser reads
  // The byte offset of the character the event parser counts as `cursorIndex_`
  // in input_ (UTF-8 only): scalar values are found there by their end marks.
  std::size_t cursorIndex_ = 0;
  std::size_t cursorByte_ = 0;
  std::size_t asciiPrefix_ = 0;  // bytes of input_ before the first that is not ASCII
  bool viewable_ = false;
  std::shared_ptr<const Resolver> resolver_;
  std::shared_ptr<const Constructor> constructor_;
  Encoding encoding_;
  std::unique_ptr<yaml_parser_t, EventParserDeleter> parser_;
  // One reference to the arena, released last (members die in reverse order).
  std::unique_ptr<Arena, void (*)(Arena*)> arena_;
  std::unordered_map<std::string_view, const Node::Payload*> anchorMap_;  // name to latest node
  std::vector<const Anchor*> anchorList_;  // in order of registration
  // Children of the collections being loaded, innermost last; reused so that
  // loading allocates only in the arena.
  std::vector<const Node::Payload*> children_;
  DuplicateKeys duplicateKeys_;  // reused across mappings
  std::optional<YamlError> failure_;
  bool ended_ = false;
};

// "utf8" or "utf16".
std::string_view rawValue(Parser::Encoding encoding);

}  // namespace quarn::yaml

#endif  // QUARN_YAML_PARSER_H_
