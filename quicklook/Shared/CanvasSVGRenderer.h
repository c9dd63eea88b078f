// A decoded canvas as one inline SVG element styled by the page stylesheet.
// Stateless; never fails.
#ifndef QUARN_QUICKLOOK_SHARED_CANVASSVGRENDERER_H_
#define QUARN_QUICKLOOK_SHARED_CANVASSVGRENDERER_H_

#include <string>

#include "quicklook/Shared/CanvasDocument.h"

namespace quarn::CanvasSVGRenderer {

// The SVG fragment of `document`, or the "Empty canvas" note when nothing is drawable.
std::string svg(const CanvasDocument& document);

}  // namespace quarn::CanvasSVGRenderer

#endif  // QUARN_QUICKLOOK_SHARED_CANVASSVGRENDERER_H_
