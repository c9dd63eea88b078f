// A note's Markdown body as an HTML fragment through cmark-gfm with the GitHub
// extensions, and the wiki-link markup of that fragment. Stateless; never fails.
#ifndef QUARN_QUICKLOOK_SHARED_MARKDOWNRENDERER_H_
#define QUARN_QUICKLOOK_SHARED_MARKDOWNRENDERER_H_

#include <string>
#include <string_view>

namespace quarn::MarkdownRenderer {

// The HTML of `markdown`, up to its first NUL; raw HTML is omitted and unsafe
// addresses are emptied by the library. "" when the library gives nothing.
std::string html(std::string_view markdown);

// `html` with every [[target]] and [[target|label]] replaced by a styled span
// showing the label (trimmed) or else the target (untrimmed).
std::string styleWikiLinks(std::string_view html);

// Appends styleWikiLinks(html(markdown)) to `out`, styled straight from the
// library's buffer, with room for `spare` more bytes after it: a large note's
// HTML is written once, into the page that holds it.
void appendStyledHTML(std::string_view markdown, std::string& out, std::size_t spare);

// The versions of the Markdown library the program runs with, for --version.
std::string libraryVersion();

}  // namespace quarn::MarkdownRenderer

#endif  // QUARN_QUICKLOOK_SHARED_MARKDOWNRENDERER_H_
