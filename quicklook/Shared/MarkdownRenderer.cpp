#include "quicklook/Shared/MarkdownRenderer.h"

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include "base/Regex.h"

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

// Copies `bytes` as UTF-8, each ill-formed sequence replaced by U+FFFD.
std::string validUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n) {
    unsigned char c = s[i];
    if (c < 0x80) {
      std::size_t j = i + 1;
      while (j < n && s[j] < 0x80) ++j;
      out.append(bytes.substr(i, j - i));
      i = j;
      continue;
    }
    std::size_t len = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      if (c == 0xE0) lo = 0xA0;
      if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      if (c == 0xF0) lo = 0x90;
      if (c == 0xF4) hi = 0x8F;
    }
    // Maximal subparts of an ill-formed sequence each become one U+FFFD.
    std::size_t k = 1;
    if (len != 0) {
      while (k < len && i + k < n) {
        unsigned char b = s[i + k];
        if (b < (k == 1 ? lo : 0x80) || b > (k == 1 ? hi : 0xBF)) break;
        ++k;
      }
    }
    if (len != 0 && k == len) {
      out.append(bytes.substr(i, len));
    } else {
      out.append("\xEF\xBF\xBD");
    }
    i += k;
  }
  return out;
}

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
    if (buffer) result = validUtf8(buffer.get());
  }
  // Released in this order: buffer (above), document, parser.
  document.reset();
  parser.reset();
  return result;
}

std::string styleWikiLinks(std::string_view html) { return std::string(html); }

std::string libraryVersion() { return cmark_version_string(); }

}  // namespace quarn::MarkdownRenderer
