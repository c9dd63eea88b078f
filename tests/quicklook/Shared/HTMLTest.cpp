#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "quicklook/Shared/HTML.h"

namespace quarn {
namespace {

TEST(HTMLTest, EscapesTheFiveCharactersAndNothingElse) {
  const struct {
    std::string input, expected;
  } rows[] = {
      {"", ""},
      {"plain text", "plain text"},
      {"a<b & 'c'", "a&lt;b &amp; &#39;c&#39;"},
      {"\"q\" > x", "&quot;q&quot; &gt; x"},
      {"&amp;", "&amp;amp;"},  // escaping twice escapes again
      {"é ü 漢字 🎉", "é ü 漢字 🎉"},
      {"line\nbreak\ttab\x01", "line\nbreak\ttab\x01"},
      {std::string("nul\0byte", 8), std::string("nul\0byte", 8)},
      {"<<>>", "&lt;&lt;&gt;&gt;"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(HTML::escape(row.input), row.expected) << "input: " << row.input;
  }
}

TEST(HTMLTest, EscapeAppendsToExistingText) {
  std::string out = "<p>";
  HTML::escape("a&b", out);
  EXPECT_EQ(out, "<p>a&amp;b");
}

TEST(HTMLTest, DocumentWrapsEscapedTitleAndUnchangedBody) {
  const std::string page = HTML::document("a<b & 'c'.md", "<p>Hi <b>there</b></p>");
  EXPECT_EQ(page.rfind("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n<title>", 0), 0u);
  EXPECT_NE(page.find("<title>a&lt;b &amp; &#39;c&#39;.md</title>\n<style>\n:root {"),
            std::string::npos);
  EXPECT_NE(page.find("}\n</style>\n</head><body><main class=\"quarn-preview\">\n"
                      "<p>Hi <b>there</b></p>\n</main></body></html>"),
            std::string::npos);
  EXPECT_TRUE(page.ends_with("</main></body></html>"));
}

TEST(HTMLTest, EmptyTitleAndBody) {
  const std::string page = HTML::document("", "");
  EXPECT_NE(page.find("<title></title>"), std::string::npos);
  EXPECT_TRUE(page.ends_with("<main class=\"quarn-preview\">\n\n</main></body></html>"));
}

// The stylesheet as a list of (selector, declarations) in order, comments dropped.
std::vector<std::pair<std::string, std::string>> rules(const std::string& css) {
  std::string text = std::regex_replace(css, std::regex(R"(/\*[\s\S]*?\*/)"), "");
  std::vector<std::pair<std::string, std::string>> out;
  std::regex rule(R"(([^{}]+)\{([^{}]*)\})");
  for (std::sregex_iterator it(text.begin(), text.end(), rule), end; it != end; ++it) {
    auto trim = [](std::string s) {
      s.erase(0, s.find_first_not_of(" \n"));
      s.erase(s.find_last_not_of(" \n;") + 1);
      return s;
    };
    out.emplace_back(trim((*it)[1]), trim((*it)[2]));
  }
  return out;
}

TEST(HTMLTest, StylesheetDeclaresEveryTokenLightThenDark) {
  const std::string page = HTML::document("t", "");
  const std::size_t style = page.find("<style>\n") + 8;
  const std::string css = page.substr(style, page.find("\n</style>") - style);
  const std::size_t dark = css.find("@media (prefers-color-scheme: dark)");
  ASSERT_NE(dark, std::string::npos);
  const struct {
    const char* name;
    const char* light;
    const char* dark;
  } tokens[] = {
      {"--bg", "#ffffff", "#181818"},
      {"--bg-sidebar", "#f5f5f4", "#262626"},
      {"--bg-sidebar-glass", "rgba(245, 245, 244, 0.55)", "rgba(38, 38, 38, 0.55)"},
      {"--bg-hover", "#ededec", "#2e2e2e"},
      {"--bg-active", "#e4e4e3", "#363636"},
      {"--text", "#1a1a1a", "#e8e8e8"},
      {"--text-secondary", "#6b6b6b", "#9a9a9a"},
      {"--text-faint", "#a3a3a3", "#6b6b6b"},
      {"--border", "#e2e2e1", "#333333"},
      {"--accent", "#187730", "#59c073"},
      {"--accent-bg", "rgba(24, 119, 48, 0.08)", "rgba(89, 192, 115, 0.12)"},
      {"--danger", "#b3423c", "#d07a75"},
      {"--font-ui", "-apple-system, BlinkMacSystemFont, \"SF Pro\", sans-serif", nullptr},
      {"--font-mono", "ui-monospace, \"SF Mono\", monospace", nullptr},
  };
  for (const auto& token : tokens) {
    const std::string light = std::string(token.name) + ": " + token.light + ";";
    const std::size_t at = css.find(light);
    EXPECT_LT(at, dark) << light;
    if (token.dark) {
      EXPECT_NE(css.find(std::string(token.name) + ": " + token.dark + ";", dark),
                std::string::npos)
          << token.name;
    } else {
      EXPECT_EQ(css.find(std::string(token.name) + ":", dark), std::string::npos) << token.name;
    }
  }
  // The rule block follows the token block and holds the 46 rules in order.
  const auto all = rules(css.substr(css.find("* {")));
  ASSERT_EQ(all.size(), 46u);
  EXPECT_EQ(all[0], std::make_pair(std::string("*"), std::string("box-sizing: border-box")));
  EXPECT_EQ(all[1].second, "margin: 0; padding: 0; background: var(--bg); color: var(--text)");
  EXPECT_EQ(all[13].first, "li input[type=\"checkbox\"]");
  // Cells keep the alignment the table's delimiter row asks for.
  EXPECT_EQ(all[23].second, "text-align: center");
  EXPECT_EQ(all[24].first, "th[align=\"right\"], td[align=\"right\"]");
  EXPECT_EQ(all[27].second,
            "border-collapse: collapse; width: 100%; font-size: 14px; table-layout: fixed");
  EXPECT_EQ(all[30].first, ".quarn-props tr:last-child th, .quarn-props tr:last-child td");
  EXPECT_EQ(all[45].first, ".quarn-canvas .canvas-shape-label");
  EXPECT_EQ(all[45].second, "fill: var(--text); font-family: var(--font-ui); font-size: 14px");
}

}  // namespace
}  // namespace quarn
