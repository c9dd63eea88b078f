#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm.h>
#include <gtest/gtest.h>

#include "quicklook/Shared/MarkdownRenderer.h"

namespace quarn {
namespace {

TEST(MarkdownRendererTest, RendersWithTheChosenExtensionsAndOptions) {
  const struct {
    std::string input, expected;
  } rows[] = {
      {"", ""},
      {"  \n\n\t\n", ""},
      {"<b>hi</b>", "<p><!-- raw HTML omitted -->hi<!-- raw HTML omitted --></p>\n"},
      {"<div>\nblock\n</div>\n\nafter", "<!-- raw HTML omitted -->\n<p>after</p>\n"},
      {"- [x] done",
       "<ul>\n<li><input type=\"checkbox\" checked=\"\" disabled=\"\" /> done</li>\n</ul>\n"},
      {"- [ ] open", "<ul>\n<li><input type=\"checkbox\" disabled=\"\" /> open</li>\n</ul>\n"},
      {"a ~b~ c", "<p>a <del>b</del> c</p>\n"},
      {"a ~~b~~ c", "<p>a <del>b</del> c</p>\n"},
      {"[x](javascript:alert(1))", "<p><a href=\"\">x</a></p>\n"},
      {"text[^1]", "<p>text[^1]</p>\n"},
      {"one\ntwo", "<p>one\ntwo</p>\n"},
      {"\"quotes\" -- and...", "<p>&quot;quotes&quot; -- and...</p>\n"},
      {"```json\n{}\n```", "<pre><code class=\"language-json\">{}\n</code></pre>\n"},
      {"![alt](my pic.png)", "<p>![alt](my pic.png)</p>\n"},
      {"![alt](<my pic.png>)", "<p><img src=\"my%20pic.png\" alt=\"alt\" /></p>\n"},
      {"www.example.com", "<p><a href=\"http://www.example.com\">www.example.com</a></p>\n"},
      {"| a | b |\n|:-|-:|\n| 1 | 2 |",
       "<table>\n<thead>\n<tr>\n<th align=\"left\">a</th>\n<th align=\"right\">b</th>\n</tr>\n"
       "</thead>\n<tbody>\n<tr>\n<td align=\"left\">1</td>\n<td align=\"right\">2</td>\n</tr>\n"
       "</tbody>\n</table>\n"},
      {"| a |\n|---|", "<table>\n<thead>\n<tr>\n<th>a</th>\n</tr>\n</thead>\n</table>\n"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(MarkdownRenderer::html(row.input), row.expected) << "input: " << row.input;
  }
}

TEST(MarkdownRendererTest, StopsAtTheFirstNul) {
  EXPECT_EQ(MarkdownRenderer::html(std::string("kept\0dropped", 12)), "<p>kept</p>\n");
  EXPECT_EQ(MarkdownRenderer::html(std::string("\0after", 6)), "");
}

TEST(MarkdownRendererTest, IllFormedBytesBecomeReplacementCharacters) {
  // The library copies bytes through; whatever it gives back is made valid.
  EXPECT_EQ(MarkdownRenderer::html("a\xFF"
                                   "b"),
            "<p>a\xEF\xBF\xBD"
            "b</p>\n");
  EXPECT_EQ(MarkdownRenderer::html("\xE2\x82"), "<p>\xEF\xBF\xBD</p>\n");
  EXPECT_EQ(MarkdownRenderer::html("é"), "<p>é</p>\n");
}

// The library with its own allocator and the same extensions and options.
std::string libraryHtml(const std::string& markdown) {
  cmark_gfm_core_extensions_ensure_registered();
  cmark_parser* parser = cmark_parser_new(CMARK_OPT_DEFAULT);
  for (const char* name : {"table", "strikethrough", "autolink", "tasklist", "tagfilter"}) {
    cmark_parser_attach_syntax_extension(parser, cmark_find_syntax_extension(name));
  }
  cmark_parser_feed(parser, markdown.data(), markdown.size());
  cmark_node* document = cmark_parser_finish(parser);
  char* html =
      cmark_render_html(document, CMARK_OPT_DEFAULT, cmark_parser_get_syntax_extensions(parser));
  std::string result(html);
  std::free(html);
  cmark_node_free(document);
  cmark_parser_free(parser);
  return result;
}

// Renders keep their memory in an arena: buffers grow in place or move, text
// outgrows small blocks into malloc, and blocks given back are reused. Pages
// must come out exactly as with the library's own allocator.
TEST(MarkdownRendererTest, RendersExactlyAsWithTheLibrarysAllocator) {
  const std::string note =
      "---\ntitle: x\n---\n# Head *one*\n\n- Draft **result** [[Weekly plan|source]] "
      "www.example.org/a colour\n- [ ] task ~~gone~~ <b>x</b>\n  more text for the item\n\n"
      "> Quote *a* b [link](https://example.com/q) c_d `code` e\n> second line **bold**\n\n"
      "| a | b |\n|:-|-:|\n| 1 *x* | 2 |\n\n```js\nlet a = 1;\n```\n\n";
  std::string many;
  for (int i = 0; i < 400; ++i) many += note;
  const std::string longLine = std::string(100000, 'a') + " *b* " + std::string(100000, 'c');
  for (const std::string& input : {note, many, longLine, "> " + longLine + "\n\n" + many}) {
    EXPECT_EQ(MarkdownRenderer::html(input), libraryHtml(input)) << input.substr(0, 80);
  }
}

// The library's inline parser keeps its table of special characters per
// process unless patched; one render finishing used to strip "~" and the
// autolink characters from another in flight. Many overlapping renders of a
// note that needs every extension must all match the single-thread page.
TEST(MarkdownRendererTest, OverlappingRendersAgree) {
  std::string note;
  for (int i = 0; i < 40; ++i) {
    note += "| a | b |\n|---|---|\n| ~x~ | www.example.com |\n\n- [ ] ~~y~~ z@example.org\n\n";
  }
  const std::string expected = MarkdownRenderer::html(note);
  ASSERT_NE(expected.find("<del>x</del>"), std::string::npos);
  constexpr int kThreads = 8, kRounds = 150;
  std::vector<int> mismatches(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        if (MarkdownRenderer::html(note) != expected) ++mismatches[t];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

std::string repeat(std::string_view piece, std::size_t times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i) out += piece;
  return out;
}

// Inputs that took the older library quadratic time. Each must render far
// below the limit, which only quadratic behaviour could reach.
TEST(MarkdownRendererTest, HostileInputsRenderInLinearTime) {
  std::string wideTable =
      "|" + repeat(" a |", 4000) + "\n|" + repeat("---|", 4000) + "\n" + repeat("| x |\n", 4000);
  std::string deepList = repeat("- ", 40000) + "x\n" + repeat("lazy\n", 40000);
  std::string deepQuote = repeat(">", 40000) + " x\n" + repeat("lazy\n", 40000);
  const struct {
    const char* name;
    std::string input;
  } rows[] = {
      {"wide table", wideTable},
      {"image brackets", repeat("![[]()", 80000)},
      {"autolink underscores", repeat("www.a_", 80000)},
      {"processing instructions", repeat("<?", 80000)},
      {"cdata", repeat("<![CDATA[", 80000)},
      {"deep list with lazy lines", deepList},
      {"deep quote with lazy lines", deepQuote},
      {"brackets", repeat("[", 200000)},
      {"emphasis", repeat("*a **a ", 50000)},
      {"backticks", repeat("`", 1) + repeat("``a", 50000)},
  };
  for (const auto& row : rows) {
    const auto start = std::chrono::steady_clock::now();
    const std::string html = MarkdownRenderer::html(row.input);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 10.0) << row.name;
    EXPECT_FALSE(html.empty()) << row.name;
  }
}

}  // namespace
}  // namespace quarn
