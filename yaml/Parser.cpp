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
#include "yaml/Resolver.h"

namespace quarn::yaml {

namespace {

// Up to this many keys pairwise comparison (with the cached hashes) beats
// building a hash table.
constexpr std::size_t kPairwiseKeyLimit = 8;

Mark markOf(const yaml_mark_t& mark) { return Mark{mark.line + 1, mark.column + 1}; }

std::string_view textOf(const yaml_char_t* text) {
  return text ? std::string_view(reinterpret_cast<const char*>(text)) : std::string_view();
}

// UTF-16LE bytes of UTF-8 text; a malformed sequence becomes U+FFFD.
std::string utf16le(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  auto put = [&out](unsigned unit) {
    out.push_back(static_cast<char>(unit & 0xFF));
    out.push_back(static_cast<char>(unit >> 8));
  };
  std::size_t i = 0;
  while (i < text.size()) {
    const int length = utf8::sequenceLength(text.substr(i));
    if (length < 0) {
      put(0xFFFD);
      ++i;
      continue;
    }
    char32_t code = utf8::codePoint(text.substr(i), length);
    if (code >= 0x10000) {
      code -= 0x10000;
      put(0xD800 + (code >> 10));
      put(0xDC00 + (code & 0x3FF));
    } else {
      put(code);
    }
    i += static_cast<std::size_t>(length);
  }
  return out;
}

// The value of four hex digits at `at`, or -1.
long hex4(std::string_view text, std::size_t at) {
  if (at + 4 > text.size()) return -1;
  long value = 0;
  for (std::size_t k = at; k < at + 4; ++k) {
    const char c = text[k];
    const int digit = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
    if (digit < 0) return -1;
    value = value * 16 + digit;
  }
  return value;
}

// JSON writers escape characters beyond the Basic Multilingual Plane as a
// pair of UTF-16 surrogate escapes ("\ud83d\ude00"), which the event parser
// refuses. Each such high+low pair inside a double-quoted scalar becomes the
// one escape of its character ("\U0001F600"); a lone surrogate, and the same
// letters in any other place (plain, single-quoted and block scalars,
// comments), stay as they were, so a text that parses already is unchanged.
// Nothing when there is no pair to join.
std::optional<std::string> joinSurrogatePairs(std::string_view text) {
  constexpr std::size_t kPair = 12;  // \uD83D\uDE00
  struct Found {
    std::size_t at;         // byte offset in `text`
    std::size_t character;  // character index of the rewrite, as the scanner counts
    char32_t code;
    bool keep;
  };
  std::vector<Found> found;
  std::size_t characters = 0;  // in the rewritten text, up to `i`
  std::size_t counted = 0;     // bytes of `text` counted so far
  for (std::size_t i = text.find('\\'); i != std::string_view::npos && i + 1 < text.size();
       i = text.find('\\', i)) {
    if (text[i + 1] == '\\') {
      i += 2;  // an escaped backslash: the next one starts nothing
      continue;
    }
    const long high = text[i + 1] == 'u' ? hex4(text, i + 2) : -1;
    const long low = high >= 0xD800 && high <= 0xDBFF && i + kPair <= text.size() &&
                             text[i + 6] == '\\' && text[i + 7] == 'u'
                         ? hex4(text, i + 8)
                         : -1;
    if (low < 0xDC00 || low > 0xDFFF) {
      ++i;
      continue;
    }
    for (; counted < i; ++counted) {
      characters += (static_cast<unsigned char>(text[counted]) & 0xC0) != 0x80;
    }
    const char32_t code = 0x10000 + ((char32_t(high) - 0xD800) << 10) + (char32_t(low) - 0xDC00);
    found.push_back({i, characters, code, false});
    characters += 10;  // the length of the rewrite
    counted = i + kPair;
    i += kPair;
  }
  if (found.empty()) return std::nullopt;

  auto rewrite = [&](bool all) {
    std::string out;
    out.reserve(text.size());
    std::size_t from = 0;
    for (const Found& pair : found) {
      if (!all && !pair.keep) continue;
      char escape[11];
      std::snprintf(escape, sizeof escape, "\\U%08X", static_cast<unsigned>(pair.code));
      out.append(text, from, pair.at - from);
      out += escape;
      from = pair.at + kPair;
    }
    out.append(text, from);
    return out;
  };
  // Which rewrites landed in double-quoted scalars is the scanner's to say:
  // its tokens over the text with every pair rewritten mark them, and the
  // letters of any other token stay as they are whatever they read.
  const std::string candidate = rewrite(true);
  yaml_parser_t scanner;
  if (!yaml_parser_initialize(&scanner)) return std::nullopt;
  yaml_parser_set_encoding(&scanner, YAML_UTF8_ENCODING);
  yaml_parser_set_input_string(&scanner, reinterpret_cast<const unsigned char*>(candidate.data()),
                               candidate.size());
  bool anyKept = false;
  std::size_t next = 0;
  while (next < found.size()) {
    yaml_token_t token;
    if (!yaml_parser_scan(&scanner, &token)) break;
    const bool end = token.type == YAML_STREAM_END_TOKEN || token.type == YAML_NO_TOKEN;
    const bool quoted = token.type == YAML_SCALAR_TOKEN &&
                        token.data.scalar.style == YAML_DOUBLE_QUOTED_SCALAR_STYLE;
    const std::size_t start = token.start_mark.index, stop = token.end_mark.index;
    yaml_token_delete(&token);
    if (end) break;
    // Rewrites before this token fell outside every double-quoted scalar.
    while (next < found.size() && found[next].character < start) ++next;
    for (; quoted && next < found.size() && found[next].character < stop; ++next) {
      found[next].keep = anyKept = true;
    }
  }
  yaml_parser_delete(&scanner);
  if (!anyKept) return std::nullopt;
  return rewrite(false);
}

// The length of the text's leading run of ASCII bytes.
std::size_t asciiPrefix(std::string_view text) {
  std::size_t at = 0;
  for (std::uint64_t word; text.size() - at >= 8; at += 8) {
    std::memcpy(&word, text.data() + at, 8);
    if (word & 0x8080808080808080ULL) break;
  }
  while (at < text.size() && static_cast<unsigned char>(text[at]) < 0x80) ++at;
  return at;
}

}  // namespace

class Parser::Event {
 public:
  Event() { std::memset(&raw, 0, sizeof raw); }
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
    parser->asciiPrefix_ = asciiPrefix(*parser->input_);
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

bool Parser::probeKeys(const Items<std::pair<Node, Node>>& pairs, bool byTag,
                       std::vector<const Node*>& duplicated, const Node*& firstRepeat) {
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
        duplicated.push_back(&other);
        if (!firstRepeat) firstRepeat = &key;
      }
      break;
    }
  }
  return true;
}

bool Parser::checkDuplicateKeys(const Items<std::pair<Node, Node>>& pairs) {
  std::vector<const Node*> duplicated;  // the first key of each group of equal keys
  const Node* firstRepeat = nullptr;
  if (pairs.size() <= kPairwiseKeyLimit) {
    for (std::size_t i = 0; i < pairs.size(); ++i) {
      for (std::size_t j = 0; j < i; ++j) {
        if (!sameKey(pairs[j].first, pairs[i].first)) continue;
        if (!firstRepeat) firstRepeat = &pairs[i].first;
        bool known = false;
        for (const Node* key : duplicated) known = known || key == &pairs[j].first;
        if (!known) duplicated.push_back(&pairs[j].first);
        break;
      }
    }
  } else {
    // The first pair of one text under two tags starts over with tags hashed.
    for (bool byTag : {false, true}) {
      duplicated.clear();
      firstRepeat = nullptr;
      if (probeKeys(pairs, byTag, duplicated, firstRepeat)) break;
    }
  }
  if (duplicated.empty()) return true;
  YamlError error;
  error.kind = YamlError::Kind::duplicatedKeysInMapping;
  error.problem = "duplicated keys in mapping";
  error.problemMark = firstRepeat->mark();
  for (const Node* key : duplicated) {
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
    // Eight ASCII bytes at a time where they are all ASCII.
    std::uint64_t word;
    if (end - cursorIndex_ >= 8 && input.size() - cursorByte_ >= 8 &&
        (std::memcpy(&word, input.data() + cursorByte_, 8), !(word & 0x8080808080808080ULL))) {
      cursorByte_ += 8;
      cursorIndex_ += 8;
      continue;
    }
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
