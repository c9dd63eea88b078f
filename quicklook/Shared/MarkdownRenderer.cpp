#include "quicklook/Shared/MarkdownRenderer.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm.h>

#include "base/Regex.h"
#include "base/Utf8.h"

namespace quarn::MarkdownRenderer {
namespace {

constexpr std::array<const char*, 5> kExtensions = {"table", "strikethrough", "autolink",
                                                    "tasklist", "tagfilter"};

// The library's own "already registered" flag is a plain static, so two
// threads rendering their first note at once would race on it; the once-guard
// is ours.
void registerExtensions() {
  static std::once_flag once;
  std::call_once(once, [] { cmark_gfm_core_extensions_ensure_registered(); });
}

struct ParserDeleter {
  void operator()(cmark_parser* parser) const { cmark_parser_free(parser); }
};
struct NodeDeleter {
  void operator()(cmark_node* node) const { cmark_node_free(node); }
};
struct BufferDeleter {
  void operator()(char* buffer) const { std::free(buffer); }
};

}  // namespace

std::string html(std::string_view markdown) {
  registerExtensions();
  std::unique_ptr<cmark_parser, ParserDeleter> parser(cmark_parser_new(CMARK_OPT_DEFAULT));
  if (!parser) return "";
  for (const char* name : kExtensions) {
    if (cmark_syntax_extension* extension = cmark_find_syntax_extension(name)) {
      cmark_parser_attach_syntax_extension(parser.get(), extension);
    }
  }
  // The library reads a C string: only the bytes before the first NUL are fed.
  const std::size_t length = std::min(markdown.find('\0'), markdown.size());
  cmark_parser_feed(parser.get(), markdown.data(), length);
  std::unique_ptr<cmark_node, NodeDeleter> document(cmark_parser_finish(parser.get()));
  if (!document) return "";
  std::string result;
  {
    std::unique_ptr<char, BufferDeleter> buffer(cmark_render_html(
        document.get(), CMARK_OPT_DEFAULT, cmark_parser_get_syntax_extensions(parser.get())));
    if (buffer) result = utf8::withReplacements(buffer.get());
  }
  // Released in this order: buffer (above), document, parser.
  document.reset();
  parser.reset();
  return result;
}

namespace {

// The wiki-link pattern, kept for reference; the scanner below finds exactly
// its matches:  \[\[([^\]\r\n|]+?)(?:\|([^\]\r\n]*?))?\]\]
// A backtracking engine tries every "[[" against the rest of its line, which is
// quadratic on a long line of "[" or of "[[a|"; the scanner is linear.
// Links are found in text and code content only: a tag is passed over whole,
// so "[[", "|" and "]]" inside an attribute value neither open, split nor close
// a link, and a link around an element (an emphasis, an autolink) still holds
// it. On text whose tags hold none of "[", "]", "|", CR and LF the matches are
// exactly the pattern's.
bool inTarget(char c) { return c != ']' && c != '\r' && c != '\n' && c != '|'; }
bool inLabel(char c) { return c != ']' && c != '\r' && c != '\n'; }

// One past the end of the tag that starts at `at`, or `at` when none does. A
// tag is "<" and a letter, "/", "!" or "?", as an HTML parser reads one, up to
// the next ">" (or the end of the text). The Markdown library writes every
// other "<", and every ">" of text and attribute values, as a reference.
std::size_t tagEnd(std::string_view text, std::size_t at) {
  if (at + 1 >= text.size() || text[at] != '<') return at;
  const char next = text[at + 1];
  const bool opens = (next >= 'a' && next <= 'z') || (next >= 'A' && next <= 'Z') || next == '/' ||
                     next == '!' || next == '?';
  if (!opens) return at;
  const std::size_t close = text.find('>', at + 2);
  return close == std::string_view::npos ? text.size() : close + 1;
}

struct WikiLink {
  Range whole;
  Range target;
  std::optional<Range> label;
};

// The end of the run of `accepts` characters and whole tags from `from`.
// Successive starts inside one run share its end, so the run is remembered and
// walked only once.
class RunScanner {
 public:
  RunScanner(std::string_view text, bool (*accepts)(char)) : text_(text), accepts_(accepts) {}
  std::size_t endFrom(std::size_t from) {
    if (from >= from_ && from <= end_) return end_;
    std::size_t end = from;
    while (end < text_.size()) {
      const std::size_t past = tagEnd(text_, end);
      if (past != end) {
        end = past;
      } else if (accepts_(text_[end])) {
        ++end;
      } else {
        break;
      }
    }
    from_ = from;
    end_ = end;
    return end;
  }

 private:
  std::string_view text_;
  bool (*accepts_)(char);
  std::size_t from_ = 1;  // [from_, end_] is empty until the first walk
  std::size_t end_ = 0;
};

std::vector<WikiLink> findWikiLinks(std::string_view text) {
  std::vector<WikiLink> links;
  RunScanner targets(text, inTarget);
  RunScanner labels(text, inLabel);
  const auto closesAt = [&](std::size_t at) {
    return at + 1 < text.size() && text[at] == ']' && text[at + 1] == ']';
  };
  std::size_t start = 0;
  while ((start = text.find_first_of("[<", start)) != std::string_view::npos) {
    if (text[start] == '<') {
      start = std::max(tagEnd(text, start), start + 1);
      continue;
    }
    if (start + 1 == text.size() || text[start + 1] != '[') {
      ++start;
      continue;
    }
    // The lazy target can only stop where "|" or "]]" follows, and neither is
    // a target character, so the target is the whole run.
    const std::size_t targetEnd = targets.endFrom(start + 2);
    const Range target{start + 2, targetEnd - start - 2};
    if (target.length > 0 && closesAt(targetEnd)) {
      links.push_back({Range{start, targetEnd + 2 - start}, target, std::nullopt});
      start = targetEnd + 2;
      continue;
    }
    if (target.length > 0 && targetEnd < text.size() && text[targetEnd] == '|') {
      const std::size_t labelEnd = labels.endFrom(targetEnd + 1);
      if (closesAt(labelEnd)) {
        links.push_back({Range{start, labelEnd + 2 - start}, target,
                         Range{targetEnd + 1, labelEnd - targetEnd - 1}});
        start = labelEnd + 2;
        continue;
      }
    }
    ++start;
  }
  return links;
}

// Bytes of the blank (tab or Unicode space separator) starting at `at`, or 0.
std::size_t blankAt(std::string_view text, std::size_t at) {
  const std::string_view rest = text.substr(at);
  if (rest.starts_with(' ') || rest.starts_with('\t')) return 1;
  if (rest.starts_with("\xC2\xA0")) return 2;
  if (rest.starts_with("\xE1\x9A\x80") || rest.starts_with("\xE2\x80\xAF") ||
      rest.starts_with("\xE2\x81\x9F") || rest.starts_with("\xE3\x80\x80")) {
    return 3;
  }
  // U+2000 to U+200A
  if (rest.size() >= 3 && rest.starts_with("\xE2\x80") &&
      static_cast<unsigned char>(rest[2]) <= 0x8A) {
    return 3;
  }
  return 0;
}

std::string_view trimmedOfBlanks(std::string_view text) {
  while (!text.empty()) {
    const std::size_t length = blankAt(text, 0);
    if (length == 0) break;
    text.remove_prefix(length);
  }
  while (!text.empty()) {
    std::size_t length = 0;
    for (std::size_t k = 1; k <= 3 && k <= text.size() && length == 0; ++k) {
      if (blankAt(text, text.size() - k) == k) length = k;
    }
    if (length == 0) break;
    text.remove_suffix(length);
  }
  return text;
}

}  // namespace

std::string styleWikiLinks(std::string_view html) {
  const std::vector<WikiLink> links = findWikiLinks(html);
  if (links.empty()) return std::string(html);
  std::string result;
  result.reserve(html.size() + links.size() * 32);
  // Front to back into a new text: the same result as editing from the last
  // link to the first.
  std::size_t copied = 0;
  for (const WikiLink& link : links) {
    result.append(html, copied, link.whole.location - copied);
    copied = link.whole.end();
    std::string_view display = html.substr(link.target.location, link.target.length);
    if (link.label) {
      const std::string_view label =
          trimmedOfBlanks(html.substr(link.label->location, link.label->length));
      if (!label.empty()) display = label;
    }
    // Not escaped again: the Markdown library escaped the text already.
    result += "<span class=\"quarn-wikilink\">";
    result += display;
    result += "</span>";
  }
  result.append(html, copied, std::string_view::npos);
  return result;
}

std::string libraryVersion() { return cmark_version_string(); }

}  // namespace quarn::MarkdownRenderer
