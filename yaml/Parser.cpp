#include "yaml/Parser.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

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
std::string utf16le(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size() * 2);
  auto put = [&out](unsigned unit) {
    out.push_back(static_cast<char>(unit & 0xFF));
    out.push_back(static_cast<char>(unit >> 8));
  };
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    std::size_t length = lead < 0x80         ? 1
                         : (lead >> 5) == 6  ? 2
                         : (lead >> 4) == 14 ? 3
                         : (lead >> 3) == 30 ? 4
                                             : 0;
    char32_t code = length == 1   ? lead
                    : length == 2 ? lead & 0x1F
                    : length == 3 ? lead & 0x0F
                                  : lead & 0x07;
    bool valid = length != 0 && i + length <= utf8.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(utf8[i + k]);
      valid = (next & 0xC0) == 0x80;
      code = (code << 6) | (next & 0x3F);
    }
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    valid =
        valid && code >= kSmallest[length] && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
    if (!valid) {
      put(0xFFFD);
      ++i;
      continue;
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      put(0xD800 + (code >> 10));
      put(0xDC00 + (code & 0x3FF));
    } else {
      put(code);
    }
    i += length;
  }
  return out;
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
  std::string lower(value);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
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

Parser::Parser(std::string yaml, std::shared_ptr<const Resolver> resolver,
               std::shared_ptr<const Constructor> constructor, Encoding encoding)
    : yaml_(std::make_shared<const std::string>(std::move(yaml))),
      resolver_(resolver ? std::move(resolver) : Resolver::defaultResolver()),
      constructor_(constructor ? std::move(constructor) : Constructor::defaultConstructor()),
      encoding_(encoding) {}

Parser::~Parser() = default;

Expected<std::unique_ptr<Parser>, YamlError> Parser::open(
    std::string yaml, std::shared_ptr<const Resolver> resolver,
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
  const std::string* bytes = parser->yaml_.get();
  if (encoding == Encoding::utf16) {
    parser->input_ = utf16le(*parser->yaml_);
    bytes = &parser->input_;
    yaml_parser_set_encoding(raw, YAML_UTF16LE_ENCODING);
  } else {
    yaml_parser_set_encoding(raw, YAML_UTF8_ENCODING);
  }
  yaml_parser_set_input_string(raw, reinterpret_cast<const unsigned char*>(bytes->data()),
                               bytes->size());
  Event start;
  if (auto pulled = parser->pull(start); !pulled) return Unexpected(pulled.error());
  return parser;
}

Expected<std::optional<Node>, YamlError> Parser::nextDocument() {
  if (failure_) return Unexpected(*failure_);
  if (ended_ || parser_->stream_end_produced) {
    ended_ = true;
    return std::optional<Node>();
  }
  Event start;
  if (auto pulled = pull(start); !pulled) return Unexpected(pulled.error());
  if (start.raw.type == YAML_STREAM_END_EVENT) {
    ended_ = true;
    return std::optional<Node>();
  }
  Event first;
  if (auto pulled = pull(first); !pulled) return Unexpected(pulled.error());
  auto root = load(first, 0);
  if (!root) return Unexpected(root.error());
  Event end;
  if (auto pulled = pull(end); !pulled) return Unexpected(pulled.error());
  return std::optional<Node>(std::move(*root));
}

Expected<void, YamlError> Parser::pull(Event& event) {
  if (failure_) return Unexpected(*failure_);
  // After an error the event parser goes on answering 1 with an empty event
  // while its error stays set, and after the stream end it hands out empty
  // events forever: the error field and the event type are the truth.
  const int ok = yaml_parser_parse(parser_.get(), &event.raw);
  if (!ok || parser_->error != YAML_NO_ERROR || event.raw.type == YAML_NO_EVENT) {
    return Unexpected(fail(eventParserError()));
  }
  return {};
}

Expected<Node, YamlError> Parser::load(Event& event, std::size_t depth) {
  const yaml_event_t& e = event.raw;
  const Mark mark = markOf(e.start_mark);
  switch (e.type) {
    case YAML_SCALAR_EVENT: {
      const auto& data = e.data.scalar;
      Node::Scalar scalar;
      scalar.string.assign(reinterpret_cast<const char*>(data.value), data.length);
      scalar.tag = makeTag(data.quoted_implicit ? kStrTag : textOf(data.tag));
      scalar.style = static_cast<Node::Scalar::Style>(data.style);
      scalar.mark = mark;
      scalar.anchor = makeAnchor(data.anchor);
      auto anchor = scalar.anchor;
      Node node(std::move(scalar));
      if (anchor) registerAnchor(anchor, node);
      return node;
    }
    case YAML_SEQUENCE_START_EVENT: {
      if (depth >= kMaxDepth) {
        return Unexpected(fail(composerError("exceeded the maximum nesting depth", mark)));
      }
      const auto& data = e.data.sequence_start;
      Node::Sequence sequence;
      for (;;) {
        Event child;
        if (auto pulled = pull(child); !pulled) return Unexpected(pulled.error());
        if (child.raw.type == YAML_SEQUENCE_END_EVENT) break;
        auto item = load(child, depth + 1);
        if (!item) return item;
        sequence.nodes.push_back(std::move(*item));
      }
      sequence.tag = makeTag(textOf(data.tag));
      sequence.style = static_cast<Node::Sequence::Style>(data.style);
      sequence.mark = mark;
      sequence.anchor = makeAnchor(data.anchor);
      auto anchor = sequence.anchor;
      Node node(std::move(sequence));
      if (anchor) registerAnchor(anchor, node);
      return node;
    }
    case YAML_MAPPING_START_EVENT: {
      if (depth >= kMaxDepth) {
        return Unexpected(fail(composerError("exceeded the maximum nesting depth", mark)));
      }
      const auto& data = e.data.mapping_start;
      Node::Mapping mapping;
      for (;;) {
        Event keyEvent;
        if (auto pulled = pull(keyEvent); !pulled) return Unexpected(pulled.error());
        if (keyEvent.raw.type == YAML_MAPPING_END_EVENT) break;
        auto key = load(keyEvent, depth + 1);
        if (!key) return key;
        Event valueEvent;
        if (auto pulled = pull(valueEvent); !pulled) return Unexpected(pulled.error());
        auto value = load(valueEvent, depth + 1);
        if (!value) return value;
        mapping.pairs.emplace_back(std::move(*key), std::move(*value));
      }
      if (auto unique = checkDuplicateKeys(mapping); !unique) return Unexpected(unique.error());
      mapping.tag = makeTag(textOf(data.tag));
      mapping.style = static_cast<Node::Mapping::Style>(data.style);
      mapping.mark = mark;
      mapping.anchor = makeAnchor(data.anchor);
      auto anchor = mapping.anchor;
      Node node(std::move(mapping));
      if (anchor) registerAnchor(anchor, node);
      return node;
    }
    case YAML_ALIAS_EVENT: {
      // A copy shares the anchored node's payload, so an alias costs a
      // pointer however large the node (no blow-up from nested aliases).
      auto found = anchorMap_.find(std::string(textOf(e.data.alias.anchor)));
      if (found == anchorMap_.end()) {
        return Unexpected(fail(composerError("found undefined alias", mark)));
      }
      return found->second;
    }
    default:
      return Unexpected(fail(composerError("did not find expected node content", mark)));
  }
}

Expected<void, YamlError> Parser::checkDuplicateKeys(const Node::Mapping& mapping) {
  const auto& pairs = mapping.pairs;
  std::vector<const Node*> duplicated;  // the first key of each group of equal keys
  const Node* firstRepeat = nullptr;
  if (pairs.size() <= kPairwiseKeyLimit) {
    for (std::size_t i = 0; i < pairs.size(); ++i) {
      for (std::size_t j = 0; j < i; ++j) {
        if (!(pairs[j].first == pairs[i].first)) continue;
        if (!firstRepeat) firstRepeat = &pairs[i].first;
        bool known = false;
        for (const Node* key : duplicated) known = known || *key == pairs[j].first;
        if (!known) duplicated.push_back(&pairs[j].first);
        break;
      }
    }
  } else {
    struct Hash {
      std::size_t operator()(const Node* node) const { return node->hash(); }
    };
    struct Equal {
      bool operator()(const Node* a, const Node* b) const { return *a == *b; }
    };
    std::unordered_map<const Node*, std::size_t, Hash, Equal> counts;
    counts.reserve(pairs.size());
    for (const auto& pair : pairs) {
      auto [entry, inserted] = counts.try_emplace(&pair.first, 0);
      if (++entry->second != 2) continue;
      duplicated.push_back(entry->first);
      if (!firstRepeat) firstRepeat = &pair.first;
    }
  }
  if (duplicated.empty()) return {};
  YamlError error;
  error.kind = YamlError::Kind::duplicatedKeysInMapping;
  error.problem = "duplicated keys in mapping";
  error.problemMark = firstRepeat->mark();
  for (const Node* key : duplicated) {
    error.duplicates.push_back(constructString(*key).value_or("<uncovertable>"));
  }
  error.yaml = yaml_;
  return Unexpected(fail(std::move(error)));
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

std::shared_ptr<const Anchor> Parser::makeAnchor(const unsigned char* name) const {
  if (!name) return nullptr;
  return std::make_shared<const Anchor>(Anchor{std::string(textOf(name))});
}

void Parser::registerAnchor(const std::shared_ptr<const Anchor>& anchor, const Node& node) {
  anchorList_.push_back(anchor);
  anchorMap_.insert_or_assign(anchor->name, node);
}

std::shared_ptr<Tag> Parser::makeTag(std::string_view name) {
  // Only an implicit or non-specific name changes on resolution, so nodes
  // whose name is already final can share one tag per name: in JSON that is
  // every string, and it saves an allocation each.
  if (name.empty() || name == "!") return std::make_shared<Tag>(name, resolver_, constructor_);
  auto found = finalTags_.find(name);
  if (found == finalTags_.end()) {
    found =
        finalTags_.emplace(std::string(name), std::make_shared<Tag>(name, resolver_, constructor_))
            .first;
  }
  return found->second;
}

}  // namespace quarn::yaml
