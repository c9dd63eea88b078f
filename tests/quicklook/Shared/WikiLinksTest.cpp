#include <chrono>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/Regex.h"
#include "quicklook/Shared/MarkdownRenderer.h"

namespace quarn {
namespace {

std::string span(std::string_view display) {
  return "<span class=\"quarn-wikilink\">" + std::string(display) + "</span>";
}

// The edit as the pattern defines it, from the last match to the first, over
// a regular-expression engine, with every tag (as an HTML parser reads one)
// masked as a private-use character of its own and put back afterwards: the
// reference the scanner must agree with. `html` must hold no private-use
// characters and fewer than 6400 tags.
std::string referenceStyle(std::string_view html) {
  const Regex regex = *Regex::compile("\\[\\[([^\\]\\r\\n|]+?)(?:\\|([^\\]\\r\\n]*?))?\\]\\]");
  const Regex tag = *Regex::compile("<[A-Za-z/!?][^>]*>?");
  const auto mask = [](std::size_t number) {  // U+E000 + number, in UTF-8
    const std::size_t code = 0xE000 + number;
    return std::string{static_cast<char>(0xE0 | (code >> 12)),
                       static_cast<char>(0x80 | ((code >> 6) & 0x3F)),
                       static_cast<char>(0x80 | (code & 0x3F))};
  };
  std::vector<std::string> tags;
  std::string text;
  std::size_t copied = 0;
  for (const Match& match : tag.matches(html)) {
    text.append(html, copied, match.range().location - copied);
    text += mask(tags.size());
    tags.emplace_back(html.substr(match.range().location, match.range().length));
    copied = match.range().end();
  }
  text.append(html, copied, std::string_view::npos);
  const std::vector<Match> found = regex.matches(text);
  for (auto match = found.rbegin(); match != found.rend(); ++match) {
    std::string display = text.substr(match->groups[1]->location, match->groups[1]->length);
    if (match->groups[2]) {
      std::string label = text.substr(match->groups[2]->location, match->groups[2]->length);
      const std::size_t first = label.find_first_not_of(" \t");
      const std::size_t last = label.find_last_not_of(" \t");
      if (first != std::string::npos) display = label.substr(first, last - first + 1);
    }
    text.replace(match->range().location, match->range().length, span(display));
  }
  for (std::size_t number = 0; number < tags.size(); ++number) {
    const std::size_t at = text.find(mask(number));
    if (at != std::string::npos) text.replace(at, 3, tags[number]);
  }
  return text;
}

TEST(WikiLinksTest, StylesLinksByTheirRules) {
  struct Row {
    std::string html;
    std::string expected;
  };
  const std::vector<Row> rows = {
      {"[[Note]]", span("Note")},
      {"[[Note|Shown]]", span("Shown")},
      {"[[Note| Shown ]]", span("Shown")},
      {"[[Note|\t\xC2\xA0Shown\xE3\x80\x80\xE2\x80\x89]]", span("Shown")},
      {"[[Note|]]", span("Note")},
      {"[[Note|   ]]", span("Note")},
      {"[[ Note ]]", span(" Note ")},
      {"[[a|b|c]]", span("b|c")},
      {"[[a||b]]", span("|b")},
      {"[[]]", "[[]]"},
      {"[[|x]]", "[[|x]]"},
      {"[[a]b]]", "[[a]b]]"},
      {"[[a|b]c]]", "[[a|b]c]]"},
      {"[[a\nb]]", "[[a\nb]]"},
      {"[[a|b\r\nc]]", "[[a|b\r\nc]]"},
      {"[[[a]]]", span("[a") + "]"},
      {"x [[a]] y [[b|c]] z", "x " + span("a") + " y " + span("c") + " z"},
      {"[[A &amp; B]]", span("A &amp; B")},
      {"<code>[[a]]</code>", "<code>" + span("a") + "</code>"},
      {"[[a|b]] [[c", span("b") + " [[c"},
      {"[[a [[b]]", span("a [[b")},
      {"[[é|ü]]", span("ü")},
      {"no links", "no links"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(MarkdownRenderer::styleWikiLinks(row.html), row.expected)
        << "html: " << testing::PrintToString(row.html);
  }
}

TEST(WikiLinksTest, LeavesTagsWhole) {
  struct Row {
    std::string html;
    std::string expected;
  };
  const std::vector<Row> rows = {
      {"<p><a href=\"x\" title=\"[[L]]\">t</a></p>", "<p><a href=\"x\" title=\"[[L]]\">t</a></p>"},
      {"<p><img src=\"p.png\" alt=\"[[a]]\" /></p>", "<p><img src=\"p.png\" alt=\"[[a]]\" /></p>"},
      {"<pre><code class=\"language-[[x]]\">[[y]]\n</code></pre>",
       "<pre><code class=\"language-[[x]]\">" + span("y") + "\n</code></pre>"},
      {"[[a <img alt=\"|b]]\" /> c]]", span("a <img alt=\"|b]]\" /> c")},
      {"[[a|<img alt=\"b\nc]]\" />]]", span("<img alt=\"b\nc]]\" />")},
      {"[[a <em>b</em>]]", span("a <em>b</em>")},
      {"[[<a href=\"mailto:a@b.c\">a@b.c</a>]]", span("<a href=\"mailto:a@b.c\">a@b.c</a>")},
      {"[[a < b]] [[c]] > d", span("a < b") + " " + span("c") + " > d"},
      {"<a title=\"[[x]]", "<a title=\"[[x]]"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(MarkdownRenderer::styleWikiLinks(row.html), row.expected)
        << "html: " << testing::PrintToString(row.html);
  }
}

TEST(WikiLinksTest, ScannerAgreesWithThePatternOnRandomText) {
  const std::vector<std::string> pieces = {"[",  "[[", "]", "]]", "|", "a",   " ",
                                           "\n", "\r", "é", "<",  ">", "<b>", "<i t=\"[[|]]\n\">"};
  std::mt19937 random(42);
  for (int round = 0; round < 20'000; ++round) {
    std::string html;
    const int length = static_cast<int>(random() % 16);
    for (int i = 0; i < length; ++i) html += pieces[random() % pieces.size()];
    ASSERT_EQ(MarkdownRenderer::styleWikiLinks(html), referenceStyle(html))
        << "html: " << testing::PrintToString(html);
  }
}

TEST(WikiLinksTest, HostileLinesRenderInLinearTime) {
  std::vector<std::string> hostile = {std::string(1 << 20, '[') + "]"};
  for (const char* unit : {"[[", "[[ ", "[[a|", "[[a|[", "[[a]", "[[<b>", "[[a|<i", "<a[["}) {
    std::string text;
    while (text.size() < 400'000) text += unit;
    hostile.push_back(text + "]");
  }
  std::string blocks;  // quadratic per block for an engine, many blocks
  while (blocks.size() < 1'000'000) blocks += std::string(3000, '[') + "[[x]]";
  hostile.push_back(blocks);
  const auto started = std::chrono::steady_clock::now();
  for (const std::string& text : hostile) {
    const std::string styled = MarkdownRenderer::styleWikiLinks(text);
    EXPECT_GE(styled.size(), text.size() - text.size() / 4);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
  EXPECT_EQ(MarkdownRenderer::styleWikiLinks("[[a|[[b]]"), span("[[b"));
}

}  // namespace
}  // namespace quarn
