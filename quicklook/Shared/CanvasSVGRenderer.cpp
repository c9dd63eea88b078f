#include "quicklook/Shared/CanvasSVGRenderer.h"

namespace quarn::CanvasSVGRenderer {

std::string svg(const CanvasDocument&) { return "<p class=\"quarn-empty\">Empty canvas</p>"; }

}  // namespace quarn::CanvasSVGRenderer
