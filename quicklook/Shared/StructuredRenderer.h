// JSON and YAML text, or a note's front matter, as the property grid: one flat
// two-column table per document, at most 800 rows in all. Stateless; never fails.
#ifndef QUARN_QUICKLOOK_SHARED_STRUCTUREDRENDERER_H_
#define QUARN_QUICKLOOK_SHARED_STRUCTUREDRENDERER_H_

#include <string>
#include <string_view>

namespace quarn::StructuredRenderer {

// The property-grid fragment of `text` (already decoded); problems become a
// note inside the fragment.
std::string html(std::string_view text);

}  // namespace quarn::StructuredRenderer

#endif  // QUARN_QUICKLOOK_SHARED_STRUCTUREDRENDERER_H_
