#include "quicklook/Shared/MarkdownRenderer.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm.h>

#include "base/Regex.h"
#include "base/Utf8.h"
#include "base/WhiteSpace.h"
#include "quicklook/Shared/RenderArena.h"

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

struct BufferDeleter {
  void operator()(char* buffer) const { std::free(buffer); }
};

// Renders `markdown` and hands the HTML to `use` as valid UTF-8, straight from
// the library's buffer unless that needs replacements. `use` sees nothing when
// the library gives nothing back.
template <typename Use>
void withHTML(std::string_view markdown, Use&& use) {
  registerExtensions();
  // The parser and the tree live in the arena and go with it, all at once;
  // only the HTML, which is handed on, comes from malloc.
  RenderArena arena;
  cmark_parser* parser = cmark_parser_new_with_mem(CMARK_OPT_DEFAULT, arena.allocator());
  for (const char* name : kExtensions) {
    if (cmark_syntax_extension* extension = cmark_find_syntax_extension(name)) {
      cmark_parser_attach_syntax_extension(parser, extension);
    }
  }
  // The library reads a C string: only the bytes before the first NUL are fed.
  const std::size_t length = std::min(markdown.find('\0'), markdown.size());
  cmark_parser_feed(parser, markdown.data(), length);
  cmark_node* document = cmark_parser_finish(parser);
  if (!document) return;
  std::unique_ptr<char, BufferDeleter> buffer(cmark_render_html_with_mem(
      document, CMARK_OPT_DEFAULT, cmark_parser_get_syntax_extensions(parser),
      cmark_get_default_mem_allocator()));
  if (!buffer) return;
  const std::string_view rendered(buffer.get());
  if (utf8::isValid(rendered)) {
    use(rendered);
  } else {
    use(std::string_view(utf8::withReplacements(rendered)));
  }
}

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

// The wiki links of `text`, front to back, one at a time.
class WikiLinkFinder {
 public:
  explicit WikiLinkFinder(std::string_view text)
      : text_(text), targets_(text, inTarget), labels_(text, inLabel) {}

  std::optional<WikiLink> next() {
    for (;;) {
      // Only a "[" can open a link: the next one is found with memchr, and
      // whether it stands inside a tag is asked only then.
      start_ = bracket_.from(text_, '[', start_);
      if (start_ == std::string_view::npos) return std::nullopt;
      if (tags_.inside(start_)) {
        // On past the tag's end, as a walk over every tag from the front goes.
        const std::size_t close = text_.find('>', start_);
        start_ = close == std::string_view::npos ? text_.size() : close + 1;
        continue;
      }
      if (start_ + 1 == text_.size() || text_[start_ + 1] != '[') {
        ++start_;
        continue;
      }
      // The lazy target can only stop where "|" or "]]" follows, and neither
      // is a target character, so the target is the whole run.
      const std::size_t targetEnd = targets_.endFrom(start_ + 2);
      const Range target{start_ + 2, targetEnd - start_ - 2};
      if (target.length > 0 && closesAt(targetEnd)) {
        const WikiLink link{Range{start_, targetEnd + 2 - start_}, target, std::nullopt};
        start_ = targetEnd + 2;
        return link;
      }
      if (target.length > 0 && targetEnd < text_.size() && text_[targetEnd] == '|') {
        const std::size_t labelEnd = labels_.endFrom(targetEnd + 1);
        if (closesAt(labelEnd)) {
          const WikiLink link{Range{start_, labelEnd + 2 - start_}, target,
                              Range{targetEnd + 1, labelEnd - targetEnd - 1}};
          start_ = labelEnd + 2;
          return link;
        }
      }
      ++start_;
    }
  }

 private:
  // The next position of one byte at or after a position that only grows.
  class NextByte {
   public:
    std::size_t from(std::string_view text, char byte, std::size_t from) {
      if (searched_ && (found_ == std::string_view::npos || found_ >= from)) return found_;
      searched_ = true;
      found_ = std::string_view::npos;
      if (from < text.size()) {
        const void* at = std::memchr(text.data() + from, byte, text.size() - from);
        if (at) found_ = static_cast<std::size_t>(static_cast<const char*>(at) - text.data());
      }
      return found_;
    }

   private:
    bool searched_ = false;
    std::size_t found_ = std::string_view::npos;
  };

  bool closesAt(std::size_t at) const {
    return at + 1 < text_.size() && text_[at] == ']' && text_[at + 1] == ']';
  }

  // Whether a position stands inside a tag, asked for positions that only
  // grow. A tag runs from its "<" to the first ">" after it, so a position is
  // inside one exactly when a tag starts after the last ">" before it: the
  // text is looked at from there only, and what was looked at for one
  // position serves the next, so no byte is looked at twice.
  class TagTracker {
   public:
    explicit TagTracker(std::string_view text) : text_(text) {}

    bool inside(std::size_t at) {
      if (at <= scanned_) return open_;
      const char* const begin = text_.data();
      std::size_t from = scanned_;
      if (const void* close = ::memrchr(begin + scanned_, '>', at - scanned_)) {
        from = static_cast<std::size_t>(static_cast<const char*>(close) - begin) + 1;
        open_ = false;
      }
      while (!open_ && from < at) {
        const void* found = std::memchr(begin + from, '<', at - from);
        if (!found) break;
        const std::size_t lt = static_cast<std::size_t>(static_cast<const char*>(found) - begin);
        open_ = tagEnd(text_, lt) != lt;
        from = lt + 1;
      }
      scanned_ = at;
      return open_;
    }

   private:
    std::string_view text_;
    std::size_t scanned_ = 0;
    bool open_ = false;  // a tag starts after the last ">" before `scanned_`
  };

  std::string_view text_;
  RunScanner targets_;
  RunScanner labels_;
  NextByte bracket_;
  TagTracker tags_{text_};
  std::size_t start_ = 0;
};

// Room for the styled text: a link grows by at most 32 bytes (36 of markup
// for at least its four brackets), and links are rarely that dense.
std::size_t styledCapacity(std::size_t size) { return size + size / 4; }

// Appends `html` with its wiki links styled to `out`, front to back: the same
// result as editing from the last link to the first, with room for `spare`
// more bytes after it. Returns false, having appended nothing, when `html`
// holds no link and `always` is false.
bool appendStyled(std::string_view html, std::string& out, std::size_t spare, bool always) {
  WikiLinkFinder finder(html);
  std::optional<WikiLink> link = finder.next();
  if (!link && !always) return false;
  out.reserve(out.size() + styledCapacity(html.size()) + spare);
  std::size_t copied = 0;
  for (; link; link = finder.next()) {
    out.append(html, copied, link->whole.location - copied);
    copied = link->whole.end();
    std::string_view display = html.substr(link->target.location, link->target.length);
    if (link->label) {
      const std::string_view label =
          trimmedOfHorizontalSpace(html.substr(link->label->location, link->label->length));
      if (!label.empty()) display = label;
    }
    // Not escaped again: the Markdown library escaped the text already.
    out += "<span class=\"quarn-wikilink\">";
    out += display;
    out += "</span>";
  }
  out.append(html, copied, std::string_view::npos);
  return true;
}

}  // namespace

std::string html(std::string_view markdown) {
  std::string result;
  withHTML(markdown, [&](std::string_view rendered) { result = rendered; });
  return result;
}

std::string styleWikiLinks(std::string_view html) {
  std::string result;
  if (!appendStyled(html, result, 0, false)) return std::string(html);
  return result;
}

void appendStyledHTML(std::string_view markdown, std::string& out, std::size_t spare) {
  withHTML(markdown, [&](std::string_view rendered) { appendStyled(rendered, out, spare, true); });
}

std::string libraryVersion() { return cmark_version_string(); }

}  // namespace quarn::MarkdownRenderer
