#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "quicklook/Shared/StructuredRenderer.h"

namespace quarn {
namespace {

std::string html(std::string_view text) { return StructuredRenderer::html(text); }

const std::string kTable = "<table class=\"quarn-props\"><tbody>";
const std::string kTableEnd = "</tbody></table>";
const std::string kNull = "<span class=\"quarn-faint\">null</span>";
const std::string kTruncated =
    "<p class=\"quarn-note\">Truncated \xE2\x80\x94 showing the first 800 rows</p>";

std::string row(const std::string& key, const std::string& value, int indent = 0) {
  const std::string style =
      indent ? " style=\"padding-left:" + std::to_string(indent) + "px\"" : std::string();
  return "<tr><th" + style + ">" + key + "</th><td>" + value + "</td></tr>";
}

std::string span(const std::string& kind, const std::string& text) {
  return "<span class=\"quarn-" + kind + "\">" + text + "</span>";
}

std::size_t count(const std::string& text, const std::string& piece) {
  std::size_t n = 0;
  for (auto at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
  return n;
}

TEST(StructuredRendererTest, ReproducesWorkedExample) {
  EXPECT_EQ(html("a: 1\nb:\n  c: x\n"),
            "<table class=\"quarn-props\"><tbody><tr><th>a</th><td><span class=\"quarn-number\">1"
            "</span></td></tr><tr><th>b</th><td></td></tr><tr><th style=\"padding-left:16px\">c"
            "</th><td><span class=\"quarn-string\">x</span></td></tr></tbody></table>");
}

TEST(StructuredRendererTest, WholeFragments) {
  const struct {
    std::string text, expected;
  } rows[] = {
      {"", "<p class=\"quarn-empty\">Empty document</p>"},
      {" \n\t\r\n\xE2\x80\xA8\xC2\xA0", "<p class=\"quarn-empty\">Empty document</p>"},
      {"# just a comment\n", "<p class=\"quarn-note\">Could not parse this file</p>"},
      {"a: 1\na: 2\n", "<p class=\"quarn-note\">Could not parse this file</p>"},
      {"{\"a\": 1, \"a\": 2}", "<p class=\"quarn-note\">Could not parse this file</p>"},
      {"a: *nothing\n", "<p class=\"quarn-note\">Could not parse this file</p>"},
      {"---", kTable + row("", kNull) + kTableEnd},
      {"{}", kTable + kTableEnd},
      {"[]", kTable + row("", span("faint", "[]")) + kTableEnd},
      {"42", kTable + row("", span("number", "42")) + kTableEnd},
      {"e: {}\n", kTable + row("e", span("faint", "{}")) + kTableEnd},
      {"tags: [local, mac, editor]",
       kTable +
           row("tags", "<ul class=\"quarn-inline-list\"><li>" + span("string", "local") +
                           "</li><li>" + span("string", "mac") + "</li><li>" +
                           span("string", "editor") + "</li></ul>") +
           kTableEnd},
      {"items: [1, {a: 2}]", kTable + row("items", "") + row("1", span("number", "1"), 16) +
                                 row("2", "", 16) + row("a", span("number", "2"), 32) + kTableEnd},
      {"- [x]\n- y\n",
       kTable +
           row("1", "<ul class=\"quarn-inline-list\"><li>" + span("string", "x") + "</li></ul>") +
           row("2", span("string", "y")) + kTableEnd},
      {"? [a, b]\n: 1\n? {x: y}\n: 2\n? {=: named}\n: 3\n",
       kTable + row("?", span("number", "1")) + row("?", span("number", "2")) +
           row("named", span("number", "3")) + kTableEnd},
      {"\"<k&'>\": \"<v \\\"q\\\">\"",
       kTable + row("&lt;k&amp;&#39;&gt;", span("string", "&lt;v &quot;q&quot;&gt;")) + kTableEnd},
      {"a: 1\n---\nb: [\n", kTable + row("a", span("number", "1")) + kTableEnd},
      {"a: 1\n--- 2\n", "<h2 class=\"quarn-doc-heading\">Document 1</h2>\n" + kTable +
                            row("a", span("number", "1")) + kTableEnd +
                            "\n<h2 class=\"quarn-doc-heading\">Document 2</h2>\n" + kTable +
                            row("", span("number", "2")) + kTableEnd},
  };
  for (const auto& r : rows) EXPECT_EQ(html(r.text), r.expected) << "text: " << r.text;
}

TEST(StructuredRendererTest, ColoursScalarsByKind) {
  const struct {
    std::string value, cell;
  } rows[] = {
      {"'true'", span("string", "true")},
      {"\"42\"", span("string", "42")},
      {"True", span("bool", "True")},
      {"NO", span("bool", "NO")},
      {"Yes", span("bool", "Yes")},
      {"tRuE", span("bool", "tRuE")},
      {"on", span("string", "on")},
      {"~", kNull},
      {"Null", kNull},
      {"nULL", kNull},
      {"", kNull},
      {"''", span("string", "")},
      {".5", span("number", ".5")},
      {"1e3", span("number", "1e3")},
      {"0x1F", span("number", "0x1F")},
      {"-inf", span("number", "-inf")},
      {"Infinity", span("number", "Infinity")},
      {"nan", span("number", "nan")},
      {"0x1p-2", span("number", "0x1p-2")},
      {"1_000", span("string", "1_000")},
      {".inf", span("string", ".inf")},
      {"12:30", span("string", "12:30")},
      {"1,5", span("string", "1,5")},
      {"1e", span("string", "1e")},
      {"|\n  12\n", span("string", "12\n")},
      {"|-\n  12\n", span("number", "12")},
      {">-\n  yes\n", span("bool", "yes")},
      {"2024-01-01", span("string", "2024-01-01")},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(html("v: " + r.value), kTable + row("v", r.cell) + kTableEnd) << "value: " << r.value;
  }
}

TEST(StructuredRendererTest, IndentsNamedLevelsUpTo128) {
  std::string text, expected = kTable;
  for (int depth = 0; depth < 10; ++depth) {
    text += std::string(2 * depth, ' ') + "k" + std::to_string(depth) + ":" +
            (depth == 9 ? " end\n" : "\n");
    expected += row("k" + std::to_string(depth), depth == 9 ? span("string", "end") : "",
                    std::min(depth, 8) * 16);
  }
  EXPECT_EQ(html(text), expected + kTableEnd);
}

TEST(StructuredRendererTest, SameTextSameFragmentForJsonAndYaml) {
  EXPECT_EQ(html("{\"a\": [1, {\"b\": null}], \"c\": true}"),
            html("a:\n  - 1\n  - b: null\nc: true\n"));
}

TEST(StructuredRendererTest, TruncatesAtTheSharedRowBudget) {
  const struct {
    int members;
    int rows;
    bool note;
  } cases[] = {{799, 799, false}, {800, 800, true}, {1000, 800, true}};
  for (const auto& c : cases) {
    std::string text;
    for (int i = 0; i < c.members; ++i)
      text += "k" + std::to_string(i) + ": " + std::to_string(i) + "\n";
    const std::string fragment = html(text);
    EXPECT_EQ(count(fragment, "<tr>"), static_cast<std::size_t>(c.rows)) << c.members;
    EXPECT_EQ(fragment.ends_with("\n" + kTruncated), c.note) << c.members;
  }
}

TEST(StructuredRendererTest, LaterDocumentsShareTheBudget) {
  std::string text;
  for (int i = 0; i < 700; ++i) text += "- " + std::to_string(i) + "\n- [x]\n";
  text += "--- a\n--- b\n";
  const std::string fragment = html(text);
  EXPECT_EQ(count(fragment, "<tr>"), 800u);
  EXPECT_NE(fragment.find("<h2 class=\"quarn-doc-heading\">Document 3</h2>\n" + kTable + kTableEnd +
                          "\n" + kTruncated),
            std::string::npos);
}

TEST(StructuredRendererTest, RefusedStartGivesOneLineNote) {
  const std::string fragment = html(
      "\x01"
      "a: 1");
  const std::string head = "<p class=\"quarn-note\">Could not parse: ";
  ASSERT_TRUE(fragment.starts_with(head)) << fragment;
  EXPECT_TRUE(fragment.ends_with("</p>"));
  EXPECT_EQ(fragment.find('\n'), std::string::npos);
  EXPECT_GT(fragment.size(), head.size() + 4);
}

// Loose limits that only a blow-up (copied alias trees, unbounded recursion,
// quadratic key checks) can exceed: the slowest case takes under 3 s in a
// sanitized build on its own, and a loaded 2-core machine must not fail it.
class StructuredRendererScaleTest : public testing::Test {
 protected:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  void TearDown() override {
    EXPECT_LT(std::chrono::steady_clock::now() - start_, std::chrono::seconds(30));
  }
};

TEST_F(StructuredRendererScaleTest, AliasBombStopsAtTheBudget) {
  std::string text =
      "a: &a [\"lol\",\"lol\",\"lol\",\"lol\",\"lol\",\"lol\",\"lol\",\"lol\",\"lol\"]\n";
  for (char level = 'b'; level <= 'i'; ++level) {
    text += std::string(1, level) + ": &" + level + " [";
    for (int i = 0; i < 9; ++i)
      text += std::string(i ? "," : "") + "*" + static_cast<char>(level - 1);
    text += "]\n";
  }
  const std::string fragment = html(text);
  EXPECT_EQ(count(fragment, "<tr>"), 800u);
  EXPECT_TRUE(fragment.ends_with(kTruncated));
}

TEST_F(StructuredRendererScaleTest, DeepNestingIsAFailedPull) {
  constexpr int kDepth = 100000;
  std::string jsonObjects;
  for (int i = 0; i < kDepth; ++i) jsonObjects += "{\"a\":";
  jsonObjects += "1" + std::string(kDepth, '}');
  std::string yamlBlock;
  for (int i = 0; i < kDepth; ++i) yamlBlock += "- ";
  yamlBlock += "x\n";
  const std::string texts[] = {std::string(kDepth, '[') + std::string(kDepth, ']'), jsonObjects,
                               yamlBlock, "{a: " + std::string(kDepth, '[')};
  for (const std::string& text : texts) {
    EXPECT_EQ(html(text), "<p class=\"quarn-note\">Could not parse this file</p>")
        << text.substr(0, 10);
  }
}

TEST_F(StructuredRendererScaleTest, ManyKeysComposeAndTruncate) {
  std::string text = "{";
  for (int i = 0; i < 200000; ++i)
    text += (i ? ",\"k" : "\"k") + std::to_string(i) + "\":" + std::to_string(i);
  text += "}";
  const std::string fragment = html(text);
  EXPECT_EQ(count(fragment, "<tr>"), 800u);
  EXPECT_TRUE(fragment.ends_with(kTruncated));
}

// Documents with no rows cost no budget but each adds a heading and a table.
TEST_F(StructuredRendererScaleTest, ManyEmptyDocumentsStayWithinTheSizeBound) {
  std::string text;
  for (int i = 0; i < 500000; ++i) text += "--- {}\n";
  const std::string fragment = html(text);
  // Room for the page around the fragment within six times the file plus 16 MiB.
  EXPECT_LE(fragment.size(), 6 * text.size() + (std::size_t{16} << 20) - (std::size_t{64} << 10));
  EXPECT_TRUE(fragment.ends_with("</tbody></table>\n" + kTruncated));
}

}  // namespace
}  // namespace quarn
