// The page shell every preview ends in, its stylesheet, and the escaping every
// text from a file passes through. Stateless; never fails.
#ifndef QUARN_QUICKLOOK_SHARED_HTML_H_
#define QUARN_QUICKLOOK_SHARED_HTML_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace quarn::HTML {

// `text` safe inside HTML text and double-quoted attributes: & < > " ' become
// &amp; &lt; &gt; &quot; &#39;; every other byte is copied unchanged.
std::string escape(std::string_view text);
// Appends escape(text) to `out`, for renderers that build one growing text.
void escape(std::string_view text, std::string& out);

// The complete page: the escaped `title`, the inline stylesheet (light and
// dark appearance), and `body` inserted unchanged inside the main element.
std::string document(std::string_view title, std::string_view body);

// The page of document() in two halves, for a caller that writes a large body
// straight into the page between them: appendDocumentStart, the body, then
// appendDocumentEnd, which appends documentEndSize() bytes.
void appendDocumentStart(std::string_view title, std::string& page);
std::size_t documentEndSize();
void appendDocumentEnd(std::string& page);

}  // namespace quarn::HTML

#endif  // QUARN_QUICKLOOK_SHARED_HTML_H_
