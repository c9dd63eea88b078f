#include <stdlib.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "yaml/Compose.h"
#include "yaml/Constructor.h"
#include "yaml/Resolver.h"

namespace quarn::yaml {
namespace {

using Kind = YamlError::Kind;

Expected<YamlSequence, YamlError> open(const std::string& text,
                                       Parser::Encoding encoding = Parser::Encoding::utf8) {
  return compose_all(text, Resolver::defaultResolver(), Constructor::defaultConstructor(),
                     encoding);
}

// Every document, or the first failure.
Expected<std::vector<Node>, YamlError> composeAll(
    const std::string& text, Parser::Encoding encoding = Parser::Encoding::utf8) {
  auto sequence = open(text, encoding);
  if (!sequence) return Unexpected(sequence.error());
  std::vector<Node> documents;
  for (;;) {
    auto next = sequence->next();
    if (!next) return Unexpected(next.error());
    if (!*next) return documents;
    documents.push_back(**next);
  }
}

Node only(const std::string& text) {
  auto documents = composeAll(text);
  EXPECT_TRUE(documents) << text << ": " << documents.error().description();
  EXPECT_EQ(documents->size(), 1u) << text;
  return documents->front();
}

const Node& valueOf(const Node& mapping, std::size_t index) {
  return mapping.mapping()->pairs.at(index).second;
}

TEST(ComposeTest, CountsDocuments) {
  const struct {
    std::string text;
    std::size_t documents;
  } rows[] = {
      {"", 0},
      {"# only a comment\n", 0},
      {"---", 1},
      {"a", 1},
      {"a\n---\nb", 2},
      {"a\n--- b", 2},
      {"1\n--- 2\n--- 3", 3},
      {"a\n---\n", 2},
      {"--- a\n...\n", 1},
      {"{\"a\": [1, 2]}", 1},
  };
  for (const auto& row : rows) {
    auto documents = composeAll(row.text);
    ASSERT_TRUE(documents) << row.text;
    EXPECT_EQ(documents->size(), row.documents) << "text: " << row.text;
  }
}

TEST(ComposeTest, EmptyDocumentIsImplicitNullScalar) {
  const Node root = only("---");
  ASSERT_TRUE(root.scalar());
  EXPECT_EQ(root.scalar()->string, "");
  EXPECT_EQ(root.scalar()->style, Node::Scalar::Style::plain);
  EXPECT_EQ(root.tag().name(), "");
  EXPECT_EQ(root.resolvedTag(), "tag:yaml.org,2002:null");
  EXPECT_EQ(root.tag().name(), "tag:yaml.org,2002:null");  // resolved in place
}

TEST(ComposeTest, ScalarTagsStylesAndMarks) {
  const struct {
    std::string text;
    Node::Scalar::Style style;
    std::string resolved;
  } rows[] = {
      {"'true'", Node::Scalar::Style::singleQuoted, "tag:yaml.org,2002:str"},
      {"\"42\"", Node::Scalar::Style::doubleQuoted, "tag:yaml.org,2002:str"},
      {"|\n  7\n", Node::Scalar::Style::literal, "tag:yaml.org,2002:str"},
      {">\n  7\n", Node::Scalar::Style::folded, "tag:yaml.org,2002:str"},
      {"!!str 5", Node::Scalar::Style::plain, "tag:yaml.org,2002:str"},
      {"! 5", Node::Scalar::Style::plain, "tag:yaml.org,2002:str"},
      {"!!int '5'", Node::Scalar::Style::singleQuoted, "tag:yaml.org,2002:int"},
      {"5", Node::Scalar::Style::plain, "tag:yaml.org,2002:int"},
      {"!custom x", Node::Scalar::Style::plain, "!custom"},
  };
  for (const auto& row : rows) {
    const Node root = only(row.text);
    ASSERT_TRUE(root.scalar()) << row.text;
    EXPECT_EQ(root.scalar()->style, row.style) << row.text;
    EXPECT_EQ(root.resolvedTag(), row.resolved) << row.text;
  }
  const Node mapping = only("a: 1\nbb:\n  - x\n");
  EXPECT_EQ(mapping.mark(), (Mark{1, 1}));
  EXPECT_EQ(valueOf(mapping, 1).mark(), (Mark{3, 3}));
  EXPECT_EQ(valueOf(mapping, 1).resolvedTag(), "tag:yaml.org,2002:seq");
  EXPECT_EQ(mapping.resolvedTag(), "tag:yaml.org,2002:map");
  EXPECT_EQ(mapping.mapping()->style, Node::Mapping::Style::block);
  EXPECT_EQ(only("[a]").sequence()->style, Node::Sequence::Style::flow);
}

TEST(ComposeTest, AliasesAreSharedCopiesOfTheAnchoredNode) {
  const Node root = only("a: &x 1\nb: *x\nc: &m {k: v}\nd: *m\n");
  ASSERT_TRUE(valueOf(root, 1).scalar());
  EXPECT_EQ(valueOf(root, 1).scalar()->string, "1");
  EXPECT_EQ(valueOf(root, 1), valueOf(root, 0));
  EXPECT_TRUE(valueOf(root, 3).sharesPayloadWith(valueOf(root, 2)));
  ASSERT_TRUE(valueOf(root, 0).scalar()->anchor);
  EXPECT_EQ(valueOf(root, 0).scalar()->anchor->name, "x");
}

TEST(ComposeTest, AliasReachesAnchorOfEarlierDocument) {
  auto documents = composeAll("&top {k: v}\n--- \n*top\n");
  ASSERT_TRUE(documents) << documents.error().description();
  ASSERT_EQ(documents->size(), 2u);
  EXPECT_TRUE((*documents)[1].sharesPayloadWith((*documents)[0]));
}

// Children stored with their tree do not keep its storage alive; a copy of
// one must, also read on another thread once the parser and tree are gone.
TEST(ComposeTest, CopiedChildOutlivesItsTreeAndParser) {
  std::optional<Node> child;
  {
    auto sequence = open("outer:\n  inner: [some text longer than a short string, 2]\n");
    ASSERT_TRUE(sequence);
    auto root = sequence->next();
    ASSERT_TRUE(root && *root);
    child = valueOf(valueOf(**root, 0), 0);
  }
  std::string text;
  std::string_view tag;
  std::thread reader([&] {
    const Node copy = *child;
    text = std::string(copy.sequence()->nodes.at(0).scalar()->string);
    tag = copy.sequence()->nodes.at(1).resolvedTag();
  });
  reader.join();
  EXPECT_EQ(text, "some text longer than a short string");
  EXPECT_EQ(tag, "tag:yaml.org,2002:int");
  EXPECT_EQ(child->sequence()->nodes.at(1).tag().name(), "tag:yaml.org,2002:int");
}

// Explicit tags are coded by a small table per text; names past its end must
// keep their own text, and anchors must stay with their nodes.
TEST(ComposeTest, KeepsManyExplicitTagsAndAnchors) {
  std::string text;
  for (int i = 0; i < 300; ++i)
    text += "- &a" + std::to_string(i) + " !t" + std::to_string(i) + " x\n";
  const Node root = only(text);
  const auto& items = root.sequence()->nodes;
  ASSERT_EQ(items.size(), 300u);
  for (const int i : {0, 249, 250, 299}) {
    EXPECT_EQ(items[i].tag().name(), "!t" + std::to_string(i));
    EXPECT_EQ(items[i].resolvedTag(), "!t" + std::to_string(i));
    ASSERT_TRUE(items[i].scalar()->anchor);
    EXPECT_EQ(items[i].scalar()->anchor->name, "a" + std::to_string(i));
    EXPECT_EQ(items[i].scalar()->string, "x");
  }
  EXPECT_NE(items[250], items[299]);
}

TEST(ComposeTest, MergeKeyStaysAnOrdinaryPair) {
  const Node root = only("base: &b {x: 1}\nderived:\n  <<: *b\n  y: 2\n");
  const Node& derived = valueOf(root, 1);
  ASSERT_EQ(derived.mapping()->pairs.size(), 2u);
  const Node& mergeKey = derived.mapping()->pairs[0].first;
  EXPECT_EQ(mergeKey.scalar()->string, "<<");
  EXPECT_EQ(mergeKey.resolvedTag(), "tag:yaml.org,2002:merge");
  EXPECT_TRUE(derived.mapping()->pairs[0].second.sharesPayloadWith(valueOf(root, 0)));
}

TEST(ComposeTest, FailuresOfAPull) {
  const struct {
    std::string text;
    Kind kind;
  } rows[] = {
      {"a: 1\nb: *y\n", Kind::composer},
      {"a: &a [*a]\n", Kind::composer},  // a collection's anchor counts only once complete
      {"a: 1\na: 2\n", Kind::duplicatedKeysInMapping},
      {"{\"a\": 1, \"a\": 1}", Kind::duplicatedKeysInMapping},
      {"<<: {a: 1}\n<<: {b: 2}\n", Kind::duplicatedKeysInMapping},
      {"? [a, b]\n: 1\n? [a, b]\n: 2\n", Kind::duplicatedKeysInMapping},
      {"outer:\n  x: 1\n  x: 2\n", Kind::duplicatedKeysInMapping},
      {"a: [1, 2\n", Kind::parser},
      {"a: b: c\n", Kind::scanner},
  };
  for (const auto& row : rows) {
    auto documents = composeAll(row.text);
    ASSERT_FALSE(documents) << row.text;
    EXPECT_EQ(documents.error().kind, row.kind)
        << row.text << ": " << documents.error().description();
  }
}

TEST(ComposeTest, SurrogatePairEscapesInDoubleQuotesAreOneCharacter) {
  const struct {
    const char* text;
    std::optional<std::string> value;  // the scalar of the first value; none: fails
  } rows[] = {
      {"{\"a\": \"\\ud83d\\ude00\"}", "\xF0\x9F\x98\x80"},
      {"a: \"x\\uD83D\\uDE00y\\udbff\\udfff\"\n", "x\xF0\x9F\x98\x80y\xF4\x8F\xBF\xBF"},
      {"a: \"\\\\\\ud83d\\ude00\"\n", "\\\xF0\x9F\x98\x80"},  // after an escaped backslash
      {"\xC3\xA9: '\xC3\xA9'\na: \"\xC3\xA9\\ud83d\\ude00\"\n",
       "\xC3\xA9"},                                 // counted in characters
      {"a: \"\\ud83d\"\n", std::nullopt},           // a lone surrogate fails as before
      {"a: \"\\ude00\\ud83d\"\n", std::nullopt},    // low before high is no pair
      {"a: \"\\\\ud83d\\ude00\"\n", std::nullopt},  // \\ then a lone low surrogate
      {"a: '\\ud83d\\ude00'\n", "\\ud83d\\ude00"},  // other styles keep the text
      {"a: x\"\\ud83d\\ude00\"\n", "x\"\\ud83d\\ude00\""},
      {"a: |\n  \"\\ud83d\\ude00\"\n", "\"\\ud83d\\ude00\"\n"},
      {"# \"\\ud83d\\ude00\"\na: \"\\ud83d\\ude00\"\n", "\xF0\x9F\x98\x80"},
  };
  for (const auto& row : rows) {
    auto documents = composeAll(row.text);
    if (!row.value) {
      EXPECT_FALSE(documents) << row.text;
      continue;
    }
    ASSERT_TRUE(documents) << row.text << ": " << documents.error().description();
    EXPECT_EQ(valueOf(documents->front(), 0).scalar()->string, *row.value) << row.text;
  }
}

TEST(ComposeTest, UndefinedAliasNamesProblemAndPosition) {
  auto documents = composeAll("a: 1\nb: *y\n");
  ASSERT_FALSE(documents);
  EXPECT_EQ(documents.error().problem, "found undefined alias");
  EXPECT_EQ(documents.error().problemMark, (Mark{2, 4}));
  EXPECT_EQ(documents.error().description(), "found undefined alias at line 2, column 4");
}

TEST(ComposeTest, NonDuplicateKeysDifferInTagOrContent) {
  const char* texts[] = {
      "1: x\n'1': y\n",  // int against str
      "true: x\n'true': y\n",
      "? [a]\n: 1\n? [b]\n: 2\n",
      "? {a: 1}\n: x\n? {a: '1'}\n: y\n",
      "a: 1\nb: 1\nc: 1\nd: 1\ne: 1\nf: 1\ng: 1\nh: 1\ni: 1\nj: 1\n",  // past the pairwise limit
  };
  for (const char* text : texts) {
    auto documents = composeAll(text);
    EXPECT_TRUE(documents) << text << ": " << documents.error().description();
  }
}

TEST(ComposeTest, DuplicateKeysErrorCarriesKeyTexts) {
  std::string many;
  for (int i = 0; i < 20; ++i) many += "k" + std::to_string(i) + ": 1\n";
  many += "k3: 2\nk3: 3\n? [x]\n: 1\n? [x]\n: 2\n";
  auto documents = composeAll(many);
  ASSERT_FALSE(documents);
  EXPECT_EQ(documents.error().kind, Kind::duplicatedKeysInMapping);
  EXPECT_EQ(documents.error().duplicates, (std::vector<std::string>{"k3", "<uncovertable>"}));
  EXPECT_EQ(documents.error().problemMark, (Mark{21, 1}));
}

TEST(ComposeTest, FailureKeepsEarlierDocumentsAndRepeats) {
  auto sequence = open("a: 1\n---\nb: [\n");
  ASSERT_TRUE(sequence);
  auto first = sequence->next();
  ASSERT_TRUE(first && *first);
  for (int i = 0; i < 3; ++i) {
    auto next = sequence->next();
    ASSERT_FALSE(next) << "pull " << i;
    EXPECT_EQ(next.error().kind, Kind::parser);
  }
}

TEST(ComposeTest, EndRepeatsWithoutInventingDocuments) {
  auto sequence = open("a");
  ASSERT_TRUE(sequence);
  ASSERT_TRUE(*sequence->next());
  for (int i = 0; i < 3; ++i) {
    auto next = sequence->next();
    ASSERT_TRUE(next);
    EXPECT_FALSE(*next);
  }
}

TEST(ComposeTest, ControlCharacterFailsAtOpening) {
  auto sequence = open(
      "\x01"
      "a: 1");
  ASSERT_FALSE(sequence);
  EXPECT_EQ(sequence.error().kind, Kind::reader);
  EXPECT_FALSE(sequence.error().description().empty());
}

TEST(ComposeTest, ValueEntryGivesKeyText) {
  const Node root = only("? {=: k}\n: v\n? [a]\n: w\n? {x: y}\n: z\n");
  const auto& pairs = root.mapping()->pairs;
  EXPECT_EQ(constructString(pairs[0].first), "k");
  EXPECT_EQ(constructString(pairs[1].first), std::nullopt);
  EXPECT_EQ(constructString(pairs[2].first), std::nullopt);
}

TEST(ComposeTest, Utf16InputComposesTheSameTree) {
  const std::string text = "name: Zoë\nemoji: \"🎉\"\nlist: [1, two]\n";
  auto utf8 = composeAll(text, Parser::Encoding::utf8);
  auto utf16 = composeAll(text, Parser::Encoding::utf16);
  ASSERT_TRUE(utf8 && utf16) << (utf16 ? "" : utf16.error().description());
  EXPECT_EQ(*utf8, *utf16);
  EXPECT_EQ(valueOf((*utf16)[0], 1).scalar()->string, "🎉");
}

TEST(ComposeTest, DefaultEncodingReadsEnvironmentEveryTime) {
  const struct {
    const char* value;
    Parser::Encoding encoding;
    std::string message;
  } rows[] = {
      {nullptr, Parser::Encoding::utf8, ""},
      {"UTF16", Parser::Encoding::utf16,
       "`Parser.Encoding.default` was set to `utf16` by the `YAMS_DEFAULT_ENCODING` environment "
       "variable.\n"},
      {"utf8", Parser::Encoding::utf8,
       "`Parser.Encoding.default` was set to `utf8` by the `YAMS_DEFAULT_ENCODING` environment "
       "variable.\n"},
      {"latin1", Parser::Encoding::utf8, ""},
  };
  for (const auto& row : rows) {
    if (row.value) {
      setenv("YAMS_DEFAULT_ENCODING", row.value, 1);
    } else {
      unsetenv("YAMS_DEFAULT_ENCODING");
    }
    testing::internal::CaptureStdout();
    const Parser::Encoding encoding = Parser::defaultEncoding();
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(encoding, row.encoding) << (row.value ? row.value : "(unset)");
    EXPECT_EQ(printed, row.message) << (row.value ? row.value : "(unset)");
  }
  unsetenv("YAMS_DEFAULT_ENCODING");
}

// Inputs that blow up when aliases copy trees, when nesting recurses without
// bound, or when duplicate keys are compared pairwise. The limits are loose:
// only such a blow-up can exceed them.
class ComposeScaleTest : public testing::Test {
 protected:
  static constexpr auto kLimit = std::chrono::seconds(10);
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  void TearDown() override { EXPECT_LT(std::chrono::steady_clock::now() - start_, kLimit); }
};

std::string aliasBomb() {
  std::string text =
      "a: &a [\"lol\",\"lol\",\"lol\",\"lol\",\"lol\",\"lol\",\"lol\",\"lol\",\"lol\"]\n";
  for (char level = 'b'; level <= 'i'; ++level) {
    const char previous = static_cast<char>(level - 1);
    text += std::string(1, level) + ": &" + level + " [";
    for (int i = 0; i < 9; ++i) text += std::string(i ? "," : "") + "*" + previous;
    text += "]\n";
  }
  return text;
}

TEST_F(ComposeScaleTest, AliasBombSharesInsteadOfCopying) {
  std::string text = aliasBomb();
  // Keys that are aliases of the largest node: hashing and comparing them must
  // not walk 9^9 leaves.
  text += "j:\n  ? *i\n  : 1\n  ? [*i, *i]\n  : 2\n  ? [*i, *h]\n  : 3\n";
  const Node root = only(text);
  EXPECT_EQ(root.mapping()->pairs.size(), 10u);
  text += "  ? *i\n  : 4\n";
  auto duplicated = composeAll(text);
  ASSERT_FALSE(duplicated);
  EXPECT_EQ(duplicated.error().kind, Kind::duplicatedKeysInMapping);
}

TEST_F(ComposeScaleTest, DeepNestingFailsPastTheBound) {
  constexpr int kDepth = 100000;
  std::string flowSeq = std::string(kDepth, '[') + std::string(kDepth, ']');
  std::string flowMap;
  for (int i = 0; i < kDepth; ++i) flowMap += "{\"a\":";
  flowMap += "1" + std::string(kDepth, '}');
  std::string compactSeq;
  for (int i = 0; i < kDepth; ++i) compactSeq += "- ";
  compactSeq += "x\n";
  // Block mappings nest only by indentation, so their text grows with the
  // square of the depth; a few thousand levels are past the bound already.
  std::string blockMap;
  for (int i = 0; i < 3000; ++i) blockMap += std::string(i, ' ') + "k:\n";
  for (const std::string* text : {&flowSeq, &flowMap, &compactSeq, &blockMap}) {
    auto documents = composeAll(*text);
    ASSERT_FALSE(documents) << text->substr(0, 20);
    EXPECT_EQ(documents.error().kind, Kind::composer) << documents.error().description();
  }
}

TEST_F(ComposeScaleTest, NestingAtTheBoundComposes) {
  const auto depth = static_cast<std::ptrdiff_t>(Parser::kMaxDepth);
  const std::string atBound = std::string(depth, '[') + std::string(depth, ']');
  const std::string pastBound = "[" + atBound + "]";
  auto left = composeAll(atBound), right = composeAll(atBound);
  ASSERT_TRUE(left && right);
  EXPECT_EQ(*left, *right);  // two distinct deep trees, walked to the bottom
  EXPECT_FALSE(composeAll(pastBound));
}

TEST_F(ComposeScaleTest, ManyKeysCheckedInLinearTime) {
  std::string text;
  text.reserve(200000 * 12);
  for (int i = 0; i < 200000; ++i)
    text += "key" + std::to_string(i) + ": " + std::to_string(i) + "\n";
  const Node root = only(text);
  EXPECT_EQ(root.mapping()->pairs.size(), 200000u);
}

// 3,000 anchors of 50 nested sequences around two aliases to the previous
// one: trees 150,000 levels deep with 2^3000 paths, built from a text within
// the nesting bound (and shallow enough that the event parser's cost per token
// stays small).
constexpr int kAnchors = 3000;
constexpr int kNesting = 50;
std::string deepAliasChain(const std::string& name) {
  std::string text;
  for (int level = 0; level < kAnchors; ++level) {
    const std::string previous = "*" + name + std::to_string(level - 1);
    text += name + std::to_string(level) + ": &" + name + std::to_string(level) + " " +
            std::string(kNesting, '[') + (level ? previous + ", " + previous : "x") +
            std::string(kNesting, ']') + "\n";
  }
  return text;
}

TEST_F(ComposeScaleTest, TreesMadeDeepByAliasesHashAndCompare) {
  std::string text = deepAliasChain("a") + deepAliasChain("b");
  text += "keys: {? *a" + std::to_string(kAnchors - 1) + ": 1, ? [*b" +
          std::to_string(kAnchors - 2) + "]: 2}\n";
  const Node root = only(text);
  const auto& pairs = root.mapping()->pairs;
  ASSERT_EQ(pairs.size(), 2u * kAnchors + 1);
  const Node& a = pairs[kAnchors - 1].second;
  const Node& b = pairs[2 * kAnchors - 1].second;
  ASSERT_FALSE(a.sharesPayloadWith(b));
  EXPECT_EQ(a.hash(), b.hash());
  EXPECT_TRUE(a == b);
}

TEST_F(ComposeScaleTest, KeyTextFollowsValueEntriesMadeDeepByAliases) {
  // One shared "=" key, resolved once.
  std::string text = "e: &e =\n";
  for (int level = 0; level < kAnchors; ++level) {
    text += "v" + std::to_string(level) + ": &v" + std::to_string(level) + " ";
    for (int i = 0; i < kNesting; ++i) text += "{*e : ";
    text += level ? "*v" + std::to_string(level - 1) : std::string("k");
    text += std::string(kNesting, '}') + "\n";
  }
  const Node root = only(text);
  const auto& pairs = root.mapping()->pairs;
  EXPECT_EQ(constructString(pairs[pairs.size() - 1].second), "k");
}

TEST_F(ComposeScaleTest, KeysOfOneTextAndManyTagsCheckedInLinearTime) {
  const auto seconds = [](const std::string& text) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(composeAll(text));
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  std::string tagged, texts;
  for (int i = 0; i < 40000; ++i) {
    tagged += "!t" + std::to_string(i) + " a: " + std::to_string(i) + "\n";
    texts += "!t a" + std::to_string(i) + ": " + std::to_string(i) + "\n";
  }
  const double distinct = seconds(texts);
  EXPECT_LT(seconds(tagged), 10 * distinct + 0.5);
}

}  // namespace
}  // namespace quarn::yaml
