// A decoded canvas as one inline SVG element styled by the page stylesheet.
// Stateless; never fails; output is the same under every locale.
#ifndef QUARN_QUICKLOOK_SHARED_CANVASSVGRENDERER_H_
#define QUARN_QUICKLOOK_SHARED_CANVASSVGRENDERER_H_

#include <string>

#include "quicklook/Shared/CanvasDocument.h"

namespace quarn::CanvasSVGRenderer {

// The SVG fragment of `document`: the content bounds grown by 24 as view box,
// the arrowhead marker, then one line per drawable element in file order. A
// document with nothing drawable gives the "Empty canvas" note instead.
std::string svg(const CanvasDocument& document);

// Appends svg(document) to `out`, for a caller that writes a large drawing
// straight into its page; room for a short tail after it is reserved too.
void svg(const CanvasDocument& document, std::string& out);

// The text form of a coordinate or size, with a full stop whatever the locale:
// whole values in the signed 64-bit range as integers ("12", "-24"; negative
// zero as "0"), other finite values with exactly two decimals ("1.50", also
// for whole values beyond 64 bits), every NaN as "nan", infinities as "inf"
// and "-inf". Public so these rules can be tested on their own.
std::string number(double value);

}  // namespace quarn::CanvasSVGRenderer

#endif  // QUARN_QUICKLOOK_SHARED_CANVASSVGRENDERER_H_
