// JSON and YAML text, or a note's front matter, as the property grid: one flat
// two-column table per document, at most 800 rows in all and at most six bytes
// per character of the text plus 15 MiB. Stateless; never fails.
#ifndef QUARN_QUICKLOOK_SHARED_STRUCTUREDRENDERER_H_
#define QUARN_QUICKLOOK_SHARED_STRUCTUREDRENDERER_H_

#include <string>
#include <string_view>

namespace quarn::StructuredRenderer {

// The property-grid fragment of `text` (already decoded); problems become a
// note inside the fragment. A grid that reaches the row or the size limit ends
// with the truncation note.
std::string html(std::string_view text);
// The same, taking over the text instead of copying it: a large file is held
// once.
std::string html(std::string&& text);

}  // namespace quarn::StructuredRenderer

#endif  // QUARN_QUICKLOOK_SHARED_STRUCTUREDRENDERER_H_
