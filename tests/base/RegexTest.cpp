#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/Regex.h"

namespace quarn {
namespace {

Regex compiled(std::string_view pattern, Regex::Options options = Regex::Options::none) {
  auto regex = Regex::compile(pattern, options);
  EXPECT_TRUE(regex.has_value()) << pattern;
  return regex ? *regex : *Regex::compile("x");
}

std::vector<std::string> matchedTexts(const Regex& regex, std::string_view text) {
  std::vector<std::string> texts;
  for (const Match& match : regex.matches(text)) {
    texts.emplace_back(text.substr(match.range().location, match.range().length));
  }
  return texts;
}

TEST(RegexTest, RefusesPatternsThatDoNotCompile) {
  EXPECT_FALSE(Regex::compile("(unclosed").has_value());
  EXPECT_FALSE(Regex::compile("[a-").has_value());
  // The refusal says why, and where the engine stopped.
  const auto refused = Regex::compile("ab)c");
  ASSERT_FALSE(refused.has_value());
  EXPECT_FALSE(refused.error().reason.empty());
  EXPECT_EQ(refused.error().offset, 2u);
}

TEST(RegexTest, LineAnchorsSeeEveryUnicodeLineEnd) {
  struct Row {
    const char* name;
    std::string text;
  };
  const std::vector<Row> rows = {
      {"LF", "a\nb"},
      {"CR LF", "a\r\nb"},
      {"CR", "a\rb"},
      {"VT", "a\vb"},
      {"FF", "a\fb"},
      {"NEL",
       "a\xC2\x85"
       "b"},
      {"LS",
       "a\xE2\x80\xA8"
       "b"},
      {"PS",
       "a\xE2\x80\xA9"
       "b"},
  };
  const Regex lines = compiled("^b$", Regex::Options::anchorsMatchLines);
  const Regex endOfA = compiled("a$", Regex::Options::anchorsMatchLines);
  const Regex plain = compiled("^b$");
  for (const Row& row : rows) {
    std::optional<Match> match = lines.firstMatch(row.text);
    ASSERT_TRUE(match) << row.name;
    EXPECT_EQ(match->range(), (Range{row.text.size() - 1, 1})) << row.name;
    EXPECT_TRUE(endOfA.firstMatch(row.text)) << row.name;
    EXPECT_FALSE(plain.firstMatch(row.text)) << row.name;
  }
}

TEST(RegexTest, CarriageReturnLineFeedIsOneLineEnd) {
  // An empty line would show up as a match of ^$ between CR and LF.
  const Regex emptyLine = compiled("^$", Regex::Options::anchorsMatchLines);
  EXPECT_EQ(emptyLine.matches("a\r\nb").size(), 0u);
  EXPECT_EQ(emptyLine.matches("a\n\nb").size(), 1u);
}

TEST(RegexTest, MatchingRules) {
  struct Row {
    const char* pattern;
    std::string text;
    std::vector<std::string> expected;
  };
  const std::vector<Row> rows = {
      {"\\s+",
       "a\xC2\xA0"
       "b\xE3\x80\x80"
       "c\n\td",
       {"\xC2\xA0", "\xE3\x80\x80", "\n\t"}},
      {"abc", "ABC abc", {"abc"}},
      {"<.+?>", "<a><b>", {"<a>", "<b>"}},
      {"x*?y", "xxy", {"xxy"}},
      {"(?:ab)+", "ababa", {"abab"}},
      {"\\[\\]\\|\\.", "[]|.", {"[]|."}},
      {"[\\r\\n\\t]", "a\rb\nc\td", {"\r", "\n", "\t"}},
      {"é", "café é", {"é", "é"}},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(matchedTexts(compiled(row.pattern), row.text), row.expected) << row.pattern;
  }
}

TEST(RegexTest, GroupThatTookNoPartHasNoRange) {
  const Regex regex = compiled("a(b)?(c)");
  std::optional<Match> match = regex.firstMatch("xac");
  ASSERT_TRUE(match);
  ASSERT_EQ(match->groups.size(), 3u);
  EXPECT_EQ(match->range(), (Range{1, 2}));
  EXPECT_FALSE(match->groups[1]);
  EXPECT_EQ(match->groups[2], (Range{2, 1}));
}

TEST(RegexTest, PositionsAreByteOffsets) {
  std::optional<Match> match = compiled("b").firstMatch(
      "\xE2\x80\xA8"
      "éb");
  ASSERT_TRUE(match);
  EXPECT_EQ(match->range(), (Range{5, 1}));
}

TEST(RegexTest, AnchoredMatchMustStartAtRangeStart) {
  const Regex regex = compiled("b+");
  const std::string text = "abba";
  EXPECT_FALSE(regex.firstMatch(text, Range{0, 4}, Regex::MatchingOptions::anchored));
  EXPECT_EQ(regex.firstMatch(text, Range{1, 3}, Regex::MatchingOptions::anchored)->range(),
            (Range{1, 2}));
  EXPECT_EQ(regex.firstMatch(text, Range{0, 4})->range(), (Range{1, 2}));
}

TEST(RegexTest, RangeIsSearchedAsTheWholeText) {
  const std::string text = "xab";
  EXPECT_EQ(compiled("^a").firstMatch(text, Range{1, 2})->range(), (Range{1, 1}));
  EXPECT_EQ(compiled("a$").firstMatch(text, Range{0, 2})->range(), (Range{1, 1}));
  EXPECT_FALSE(compiled("(?<=x)a").firstMatch(text, Range{1, 2}));
  EXPECT_FALSE(compiled("b").firstMatch(text, Range{0, 2}));
}

TEST(RegexTest, BadRangesAndInvalidTextGiveNothing) {
  const Regex regex = compiled("a");
  EXPECT_FALSE(regex.firstMatch("abc", Range{2, 5}));
  EXPECT_FALSE(regex.firstMatch("abc", Range{4, 0}));
  EXPECT_FALSE(
      regex.firstMatch("\xC3\xA9"
                       "a",
                       Range{1, 2}));  // cuts the é
  EXPECT_TRUE(regex
                  .matches("a\xFF"
                           "a")
                  .empty());
  EXPECT_EQ(regex.replacingMatches("a\xC3"
                                   "a",
                                   "b"),
            "a\xC3"
            "a");
}

TEST(RegexTest, EmptyMatchesMoveOnByOneCharacter) {
  EXPECT_EQ(matchedTexts(compiled("x*"), "éx"), (std::vector<std::string>{"", "x", ""}));
}

TEST(RegexTest, ReplacesEveryMatchLiterally) {
  const Regex regex = compiled("<p>\\s*</p>");
  EXPECT_EQ(regex.replacingMatches("<p> </p>a<p>\n</p><p>b</p>", "$0"), "$0a$0<p>b</p>");
  EXPECT_EQ(regex.replacingMatches("none", ""), "none");
}

TEST(RegexTest, SharedMatcherWorksOnManyThreads) {
  const Regex regex = compiled("\\[\\[([^\\]]+)\\]\\]");
  std::string text;
  for (int i = 0; i < 1000; ++i) text += "[[n" + std::to_string(i) + "]] ";
  std::vector<std::thread> threads;
  std::vector<std::size_t> counts(4);
  for (std::size_t t = 0; t < counts.size(); ++t) {
    threads.emplace_back([&, t] { counts[t] = regex.matches(text).size(); });
  }
  for (std::thread& thread : threads) thread.join();
  for (std::size_t count : counts) EXPECT_EQ(count, 1000u);
}

TEST(RegexTest, ExponentialBacktrackingStopsAtTheWorkBound) {
  // Without a bound each start position tries every split of the run of "a".
  const Regex regex = compiled("(?:a|aa)+c");
  const std::string text = std::string(100'000, 'a') + "bc";
  const auto started = std::chrono::steady_clock::now();
  std::vector<Match> found = regex.matches(text);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  EXPECT_TRUE(found.empty());
  EXPECT_EQ(compiled("(?:a|aa)+c").matches(std::string(20, 'a') + "c").size(), 1u);
}

TEST(RegexTest, OrdinaryLargeTextStaysBelowTheBound) {
  const Regex wikiLink = compiled("\\[\\[([^\\]\\r\\n|]+?)(?:\\|([^\\]\\r\\n]*?))?\\]\\]");
  std::string text;
  for (int i = 0; i < 20'000; ++i) {
    text += "Some words and [[Linked note " + std::to_string(i) + "|a label]] then more.\n";
  }
  EXPECT_EQ(wikiLink.matches(text).size(), 20'000u);
}

}  // namespace
}  // namespace quarn
