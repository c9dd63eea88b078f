#include "yaml/Parser.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

#include "base/Text.h"
#include "base/Utf8.h"
#include "yaml/Arena.h"
#include "yaml/Constructor.h"
#include "yaml/ParserInput.h"
#include "yaml/Resolver.h"

namespace quarn::yaml {

namespace {

Mark markOf(const yaml_mark_t& mark) { return Mark{mark.line + 1, mark.column + 1}; }

std::string_view textOf(const yaml_char_t* text) {
  return text ? std::string_view(reinterpret_cast<const char*>(text)) : std::string_view();
}

}  // namespace

class Parser::Event {
 public:
  // The event parser clears an event before it fills one, and deleting an
  // event of no type frees nothing: the type is all that must be set.
  Event() { raw.type = YAML_NO_EVENT; }
  ~Event() { yaml_event_delete(&raw); }
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;
  yaml_event_t raw;
};

void Parser::EventParserDeleter::operator()(yaml_parser_t* parser) const {
  yaml_parser_delete(parser);
  delete parser;
}

std::string_view rawValue(Parser::Encoding encoding) {
  return encoding == Parser::Encoding::utf16 ? "utf16" : "utf8";
}

Parser::Encoding Parser::defaultEncoding() {
  const char* value = std::getenv("YAMS_DEFAULT_ENCODING");
  if (value == nullptr) return Encoding::utf8;
  const std::string lower = text::asciiLowercased(value);
  Encoding encoding;
  if (lower == "utf8") {
    encoding = Encoding::utf8;
  } else if (lower == "utf16") {
    encoding = Encoding::utf16;
  } else {
    return Encoding::utf8;
  }
  std::string line = "`Parser.Encoding.default` was set to `";
  line += rawValue(encoding);
  line += "` by the `YAMS_DEFAULT_ENCODING` environment variable.\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
  return encoding;
}

Parser::Parser(std::shared_ptr<const std::string> yaml, std::shared_ptr<const Resolver> resolver,
               std::shared_ptr<const Constructor> constructor, Encoding encoding)
    : yaml_(std::move(yaml)),
      resolver_(resolver ? std::move(resolver) : Resolver::defaultResolver()),
      constructor_(constructor ? std::move(constructor) : Constructor::defaultConstructor()),
      encoding_(encoding),
      arena_(new Arena(resolver_, constructor_), [](Arena* arena) { arena->release(); }) {}

Parser::~Parser() = default;

Expected<std::unique_ptr<Parser>, YamlError> Parser::open(
    std::shared_ptr<const std::string> yaml, std::shared_ptr<const Resolver> resolver,
    std::shared_ptr<const Constructor> constructor, Encoding encoding) {
  std::unique_ptr<Parser> parser(
      new Parser(std::move(yaml), std::move(resolver), std::move(constructor), encoding));
  auto* raw = new yaml_parser_t;
  if (!yaml_parser_initialize(raw)) {
    delete raw;
    YamlError error;
    error.kind = YamlError::Kind::memory;
    error.yaml = parser->yaml_;
    return Unexpected(std::move(error));
  }
  parser->parser_.reset(raw);
  parser->input_ = parser->yaml_;
  if (auto joined = joinSurrogatePairs(*parser->yaml_)) {
    parser->input_ = std::make_shared<const std::string>(std::move(*joined));
  }
  if (encoding == Encoding::utf16) {
    parser->input_ = std::make_shared<const std::string>(utf16le(*parser->input_));
    yaml_parser_set_encoding(raw, YAML_UTF16LE_ENCODING);
  } else {
    parser->viewable_ = true;
    parser->asciiPrefix_ = utf8::asciiPrefixLength(*parser->input_);
    parser->arena_->keep(parser->input_);
    yaml_parser_set_encoding(raw, YAML_UTF8_ENCODING);
  }
  const std::string& bytes = *parser->input_;
  yaml_parser_set_input_string(raw, reinterpret_cast<const unsigned char*>(bytes.data()),
                               bytes.size());
  Event start;
  if (!parser->pull(start)) return Unexpected(*parser->failure_);
  return parser;
}

Expected<std::optional<Node>, YamlError> Parser::nextDocument() {
  if (failure_) return Unexpected(*failure_);
  if (ended_ || parser_->stream_end_produced) {
    ended_ = true;
    return std::optional<Node>();
  }
  Event start;
  if (!pull(start)) return Unexpected(*failure_);
  if (start.raw.type == YAML_STREAM_END_EVENT) {
    ended_ = true;
    return std::optional<Node>();
  }
  Event first;
  if (!pull(first)) return Unexpected(*failure_);
  const Node::Payload* root = load(first, 0);
  if (!root) return Unexpected(*failure_);
  Event end;
  if (!pull(end)) return Unexpected(*failure_);
  return std::optional<Node>(Node(root, true));
}

bool Parser::pull(Event& event) {
  if (failure_) return false;
  // After an error the event parser goes on answering 1 with an empty event
  // while its error stays set, and after the stream end it hands out empty
  // events forever: the error field and the event type are the truth.
  const int ok = yaml_parser_parse(parser_.get(), &event.raw);
  if (!ok || parser_->error != YAML_NO_ERROR || event.raw.type == YAML_NO_EVENT) {
    fail(eventParserError());
    return false;
  }
  return true;
}

Node::Record* Parser::makeRecord(Node::Kind kind, bool collection, std::uint8_t style,
                                 std::pair<std::uint8_t, std::string_view> tag, const void* data,
                                 std::size_t size, Mark mark, const Anchor* anchor) {
  Node::Record* record = collection
                             ? arena_->makeRecord<Node::CollectionRecord>(kind, style, tag.first)
                             : arena_->makeRecord<Node::Record>(kind, style, tag.first);
  record->data = data;
  constexpr std::size_t kNarrow = std::numeric_limits<std::uint32_t>::max();
  const bool wide = size > kNarrow || mark.line > kNarrow || mark.column > kNarrow;
  record->size = wide ? 0 : static_cast<std::uint32_t>(size);
  record->line = wide ? 0 : static_cast<std::uint32_t>(mark.line);
  record->column = wide ? 0 : static_cast<std::uint32_t>(mark.column);
  if (wide || anchor || tag.first == kTagInExtra) {
    Arena::Extra& extra = arena_->extraFor(*record);
    extra.anchor = anchor;
    extra.tagName = tag.second;
    if (wide) {
      extra.size = size;
      extra.mark = mark;
      record->flags |= Node::Payload::kWide;
    }
  }
  return record;
}

bool Parser::loadChildren(int endType, std::size_t depth, const Mark& mark) {
  if (depth >= kMaxDepth) {
    fail(composerError("exceeded the maximum nesting depth", mark));
    return false;
  }
  for (;;) {
    Event child;
    if (!pull(child)) return false;
    if (child.raw.type == endType) return true;
    const Node::Payload* node = load(child, depth + 1);
    if (!node) return false;
    children_.push_back(node);
  }
}

const Node::Payload* Parser::load(Event& event, std::size_t depth) {
  const yaml_event_t& e = event.raw;
  const Mark mark = markOf(e.start_mark);
  switch (e.type) {
    case YAML_SCALAR_EVENT: {
      const auto& data = e.data.scalar;
      const std::string_view text = scalarText(e);
      const Anchor* anchor = makeAnchor(data.anchor);
      const auto tag = data.quoted_implicit ? std::pair<std::uint8_t, std::string_view>(kTagStr, {})
                                            : makeTag(textOf(data.tag));
      const Node::Record* node =
          makeRecord(Node::Kind::scalar, false, static_cast<std::uint8_t>(data.style), tag,
                     text.data(), text.size(), mark, anchor);
      if (anchor) registerAnchor(anchor, node);
      return node;
    }
    case YAML_SEQUENCE_START_EVENT: {
      const auto& data = e.data.sequence_start;
      const std::size_t base = children_.size();
      if (!loadChildren(YAML_SEQUENCE_END_EVENT, depth, mark)) return nullptr;
      const std::size_t count = children_.size() - base;
      Node* items = count
                        ? static_cast<Node*>(arena_->allocate(count * sizeof(Node), alignof(Node)))
                        : nullptr;
      for (std::size_t i = 0; i < count; ++i) new (items + i) Node(children_[base + i], false);
      children_.resize(base);
      const Anchor* anchor = makeAnchor(data.anchor);
      const Node::Record* node =
          makeRecord(Node::Kind::sequence, true, static_cast<std::uint8_t>(data.style),
                     makeTag(textOf(data.tag)), items, count, mark, anchor);
      if (anchor) registerAnchor(anchor, node);
      return node;
    }
    case YAML_MAPPING_START_EVENT: {
      const auto& data = e.data.mapping_start;
      const std::size_t base = children_.size();
      // Keys and values alternate; the grammar ends a mapping only where a key could stand.
      if (!loadChildren(YAML_MAPPING_END_EVENT, depth, mark)) return nullptr;
      using Pair = std::pair<Node, Node>;
      const std::size_t count = (children_.size() - base) / 2;
      Pair* pairs = count
                        ? static_cast<Pair*>(arena_->allocate(count * sizeof(Pair), alignof(Pair)))
                        : nullptr;
      for (std::size_t i = 0; i < count; ++i) {
        new (pairs + i)
            Pair(Node(children_[base + 2 * i], false), Node(children_[base + 2 * i + 1], false));
      }
      children_.resize(base);
      if (!checkDuplicateKeys(Items<Pair>(pairs, count))) return nullptr;
      const Anchor* anchor = makeAnchor(data.anchor);
      const Node::Record* node =
          makeRecord(Node::Kind::mapping, true, static_cast<std::uint8_t>(data.style),
                     makeTag(textOf(data.tag)), pairs, count, mark, anchor);
      if (anchor) registerAnchor(anchor, node);
      return node;
    }
    case YAML_ALIAS_EVENT: {
      // The alias shares the anchored node's payload, so it costs a pointer
      // however large the node (no blow-up from nested aliases).
      auto found = anchorMap_.find(textOf(e.data.alias.anchor));
      if (found == anchorMap_.end()) {
        fail(composerError("found undefined alias", mark));
        return nullptr;
      }
      return found->second;
    }
    default:
      fail(composerError("did not find expected node content", mark));
      return nullptr;
  }
}

bool Parser::checkDuplicateKeys(const Items<std::pair<Node, Node>>& pairs) {
  const DuplicateKeys::Found found = duplicateKeys_.find(pairs);
  if (found.firsts.empty()) return true;
  YamlError error;
  error.kind = YamlError::Kind::duplicatedKeysInMapping;
  error.problem = "duplicated keys in mapping";
  error.problemMark = found.firstRepeat->mark();
  for (const Node* key : found.firsts) {
    error.duplicates.push_back(constructString(*key).value_or("<uncovertable>"));
  }
  error.yaml = yaml_;
  fail(std::move(error));
  return false;
}

YamlError Parser::fail(YamlError error) {
  failure_ = error;
  return error;
}

YamlError Parser::composerError(std::string problem, Mark mark) const {
  YamlError error;
  error.kind = YamlError::Kind::composer;
  error.problem = std::move(problem);
  error.problemMark = mark;
  error.yaml = yaml_;
  return error;
}

YamlError Parser::eventParserError() const {
  const yaml_parser_t& p = *parser_;
  YamlError error;
  error.yaml = yaml_;
  if (p.problem) error.problem = p.problem;
  error.problemMark = markOf(p.problem_mark);
  if (p.context) {
    error.context = p.context;
    error.contextMark = markOf(p.context_mark);
  }
  switch (p.error) {
    case YAML_MEMORY_ERROR:
      error.kind = YamlError::Kind::memory;
      break;
    case YAML_READER_ERROR:
      error.kind = YamlError::Kind::reader;
      error.offset = p.problem_offset;
      error.value = p.problem_value;
      break;
    case YAML_SCANNER_ERROR:
      error.kind = YamlError::Kind::scanner;
      break;
    default:
      // A parser error, or an empty event without an error flag: the event
      // parser had nothing more to give where the grammar wanted an event.
      error.kind = YamlError::Kind::parser;
      if (!p.problem) error.problem = "unexpected end of the event stream";
      break;
  }
  return error;
}

std::string_view Parser::scalarText(const yaml_event_t& event) {
  const auto& data = event.data.scalar;
  const std::string_view value(reinterpret_cast<const char*>(data.value), data.length);
  const bool quoted = data.style == YAML_SINGLE_QUOTED_SCALAR_STYLE ||
                      data.style == YAML_DOUBLE_QUOTED_SCALAR_STYLE;
  // Block scalars never stand verbatim: their text begins after the header.
  if (!viewable_ || value.empty() || (!quoted && data.style != YAML_PLAIN_SCALAR_STYLE)) {
    return arena_->copy(value);
  }
  // Marks count characters; walk the UTF-8 lead bytes up to this end mark.
  const std::string& input = *input_;
  const std::size_t end = event.end_mark.index;
  if (end <= asciiPrefix_) {
    // Characters are bytes up to the first that is not ASCII.
    cursorIndex_ = cursorByte_ = end;
  }
  while (cursorIndex_ < end && cursorByte_ < input.size()) {
    // A run of ASCII at once: there each byte is a character.
    const std::size_t run =
        utf8::asciiPrefixLength(std::string_view(input).substr(cursorByte_, end - cursorIndex_));
    cursorByte_ += run;
    cursorIndex_ += run;
    if (cursorIndex_ == end || cursorByte_ >= input.size()) break;
    const auto lead = static_cast<unsigned char>(input[cursorByte_]);
    cursorByte_ += lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    ++cursorIndex_;
  }
  if (cursorIndex_ != end || cursorByte_ > input.size()) return arena_->copy(value);
  // A plain scalar ends where its text does, a quoted one a quote later.
  const std::size_t closing = quoted ? 1 : 0;
  if (closing + value.size() > cursorByte_) return arena_->copy(value);
  const std::string_view there(input.data() + cursorByte_ - closing - value.size(), value.size());
  return there == value ? there : arena_->copy(value);
}

const Anchor* Parser::makeAnchor(const unsigned char* name) {
  if (!name) return nullptr;
  return arena_->make<Anchor>(arena_->copy(textOf(name)));
}

void Parser::registerAnchor(const Anchor* anchor, const Node::Payload* node) {
  anchorList_.push_back(anchor);
  anchorMap_.insert_or_assign(anchor->name, node);
}

std::pair<std::uint8_t, std::string_view> Parser::makeTag(std::string_view name) {
  if (name.empty()) return {kTagImplicit, {}};
  const std::uint8_t code = arena_->explicitTag(name);
  return {code, code == kTagInExtra ? arena_->keepName(name) : std::string_view()};
}

}  // namespace quarn::yaml
