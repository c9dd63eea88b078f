#include "quicklook/Shared/StructuredRenderer.h"

#include "quicklook/Shared/HTML.h"

namespace quarn::StructuredRenderer {

std::string html(std::string_view text) { return "<pre>" + HTML::escape(text) + "</pre>"; }

}  // namespace quarn::StructuredRenderer
