#include "quicklook/Shared/HTML.h"

#include "quicklook/Generated/PageTokens.h"

namespace quarn::HTML {
namespace {

// The custom properties come from data/tokens.json, generated like the
// thumbnail's colours, so the palette lives in one file.
constexpr std::string_view kTokenBlock = PageTokens::kStyleBlock;

constexpr std::string_view kRuleBlock = R"css(* { box-sizing: border-box; }
html, body { margin: 0; padding: 0; background: var(--bg); color: var(--text); }
body { font-family: var(--font-ui); font-size: 16px; line-height: 24px; -webkit-font-smoothing: antialiased; }
.quarn-preview { padding: 24px 28px; max-width: 900px; margin: 0 auto; }
.quarn-preview > :first-child { margin-top: 0; }
h1, h2, h3, h4, h5, h6 { line-height: 1.3; margin: 24px 0 8px; font-weight: 600; }
h1 { font-size: 28px; }
h2 { font-size: 22px; }
h3 { font-size: 18px; }
h4, h5, h6 { font-size: 16px; }
p, ul, ol, blockquote, pre, table { margin: 0 0 16px; }
ul, ol { padding-left: 24px; }
li { margin: 2px 0; }
li input[type="checkbox"] { margin-right: 6px; }
a { color: var(--accent); text-decoration: none; }
code { font-family: var(--font-mono); font-size: 13px; background: var(--bg-hover); padding: 2px 5px; border-radius: 4px; }
pre { background: var(--bg-sidebar); border: 1px solid var(--border); border-radius: 8px; padding: 12px 14px; overflow-x: auto; }
pre code { background: none; padding: 0; font-size: 13px; }
blockquote { border-left: 3px solid var(--border); margin-left: 0; padding-left: 16px; color: var(--text-secondary); }
hr { border: none; border-top: 1px solid var(--border); margin: 24px 0; }
img { max-width: 100%; height: auto; }
table { border-collapse: collapse; width: 100%; font-size: 14px; }
th, td { border: 1px solid var(--border); padding: 6px 10px; text-align: left; vertical-align: top; }
th[align="center"], td[align="center"] { text-align: center; }
th[align="right"], td[align="right"] { text-align: right; }
th { background: var(--bg-sidebar); font-weight: 600; }
.quarn-wikilink { color: var(--accent); }
/* JSON and YAML show as one flat grid; nesting is carried by padding on the key
   cell, so every value lines up in one column at any depth. The fixed table
   layout is what holds that value column steady: with automatic layout the
   widest indented key would drag the value column around. */
.quarn-props { border-collapse: collapse; width: 100%; font-size: 14px; table-layout: fixed; }
/* Deep keys wrap rather than widen the key column or overflow. */
.quarn-props th { background: none; border: none; border-bottom: 1px solid var(--border); padding: 5px 16px 5px 0; width: 34%; text-align: left; vertical-align: top; font-weight: 400; color: var(--text-secondary); overflow-wrap: anywhere; }
.quarn-props td { border: none; border-bottom: 1px solid var(--border); padding: 5px 0; vertical-align: top; overflow-wrap: anywhere; }
.quarn-props tr:last-child th, .quarn-props tr:last-child td { border-bottom: none; }
/* Short lists of scalars show as chips, matching the host application's tag
   field; without a boundary a list such as local, mac, editor would read as
   one run-on value. */
.quarn-inline-list { margin: 0; padding: 0; list-style: none; }
.quarn-inline-list > li { display: inline-block; margin: 0 6px 4px 0; padding: 1px 7px; border: 1px solid var(--border); border-radius: 10px; background: var(--bg-sidebar); font-size: 13px; }
/* The front matter sits above the body as a distinct block, echoing the host
   application's properties panel, so that it reads as metadata rather than
   as content. */
.quarn-frontmatter { margin: 0 0 24px; padding: 4px 14px; background: var(--bg-sidebar); border: 1px solid var(--border); border-radius: 8px; }
.quarn-frontmatter .quarn-props th { width: 26%; }
.quarn-doc-heading { font-size: 13px; text-transform: uppercase; letter-spacing: 0.04em; color: var(--text-faint); margin: 24px 0 8px; }
.quarn-string { color: var(--text); }
.quarn-number, .quarn-bool { color: var(--accent); font-family: var(--font-mono); font-size: 13px; }
.quarn-faint { color: var(--text-faint); }
.quarn-note, .quarn-empty { color: var(--text-faint); font-size: 13px; }
.quarn-empty { padding: 32px 0; text-align: center; }
.quarn-canvas { display: block; width: 100%; height: auto; color: var(--text-secondary); }
.quarn-canvas rect, .quarn-canvas ellipse, .quarn-canvas polygon, .quarn-canvas line { fill: var(--bg); stroke: currentColor; stroke-width: 1.5; vector-effect: non-scaling-stroke; }
.quarn-canvas line { fill: none; }
.quarn-canvas .canvas-frame { fill: transparent; stroke-dasharray: 6 4; }
.quarn-canvas .canvas-shape-label { fill: var(--text); font-family: var(--font-ui); font-size: 14px; })css";

constexpr std::string_view kHead = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n<title>";
constexpr std::string_view kAfterTitle = "</title>\n<style>\n";
constexpr std::string_view kAfterStyle =
    "\n</style>\n</head><body><main class=\"quarn-preview\">\n";
constexpr std::string_view kTail = "\n</main></body></html>";

}  // namespace

void escape(std::string_view text, std::string& out) {
  out.reserve(out.size() + text.size());
  std::size_t run = 0;  // start of the pending run of bytes copied unchanged
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::string_view entity;
    switch (text[i]) {
      case '&':
        entity = "&amp;";
        break;
      case '<':
        entity = "&lt;";
        break;
      case '>':
        entity = "&gt;";
        break;
      case '"':
        entity = "&quot;";
        break;
      case '\'':
        entity = "&#39;";
        break;
      default:
        continue;
    }
    out.append(text, run, i - run);
    out.append(entity);
    run = i + 1;
  }
  out.append(text, run, text.size() - run);
}

std::string escape(std::string_view text) {
  std::string out;
  escape(text, out);
  return out;
}

void appendDocumentStart(std::string_view title, std::string& page) {
  page.reserve(page.size() + kHead.size() + title.size() + kAfterTitle.size() + kTokenBlock.size() +
               kRuleBlock.size() + kAfterStyle.size() + 16);
  page.append(kHead);
  escape(title, page);
  page.append(kAfterTitle);
  page.append(kTokenBlock);
  page.append("\n");
  page.append(kRuleBlock);
  page.append(kAfterStyle);
}

std::size_t documentEndSize() { return kTail.size(); }

void appendDocumentEnd(std::string& page) { page.append(kTail); }

std::string document(std::string_view title, std::string_view body) {
  std::string page;
  page.reserve(kHead.size() + title.size() + kAfterTitle.size() + kTokenBlock.size() +
               kRuleBlock.size() + kAfterStyle.size() + body.size() + kTail.size() + 16);
  appendDocumentStart(title, page);
  page.append(body);
  appendDocumentEnd(page);
  return page;
}

}  // namespace quarn::HTML
