// Paints a decoded canvas into the current graphics context: the content is
// fitted with a 16-unit margin and centred on a white background, each
// drawable element drawn as a simple shape with an optional one-line label.
// Stateless; never throws; safe to call from several threads at once.
#ifndef QUARN_QUICKLOOK_SHARED_CANVASRASTERIZER_H_
#define QUARN_QUICKLOOK_SHARED_CANVASRASTERIZER_H_

#include "platform/Geometry.h"
#include "quicklook/Shared/CanvasDocument.h"

namespace quarn::CanvasRasterizer {

// Draws `document` into the graphics context current on this thread, whose
// extent is `size` (target units, origin bottom left). Returns false, drawing
// nothing, when there is no drawable element, when the content bounds have
// neither positive width nor positive height, or when no context is current;
// returns false after filling the background when the fit scale is not finite
// and positive (a zero-width or zero-height size). True otherwise.
// Line width (1.5), dash (6 on, 4 off) and arrowhead (8) are in target units;
// corner radius (12), label font (14) and offsets are in canvas units. A
// label is laid out only as far as the picture can show it.
bool draw(const CanvasDocument& document, CGSize size);

// `bounds` grown by the margin the drawing keeps on every side: the area that
// is fitted into the picture.
Rect paddedBounds(const Rect& bounds);

}  // namespace quarn::CanvasRasterizer

#endif  // QUARN_QUICKLOOK_SHARED_CANVASRASTERIZER_H_
