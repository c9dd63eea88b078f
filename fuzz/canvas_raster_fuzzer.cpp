// libFuzzer target for the thumbnail: arbitrary bytes go through the canvas
// decoder and, when they decode, the rasterizer on a small bitmap. Extreme
// coordinates must neither crash nor leave cairo in an error state.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include <cairo.h>

#include "platform/GraphicsContext.h"
#include "quicklook/Shared/CanvasDocument.h"
#include "quicklook/Shared/CanvasRasterizer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  auto document = quarn::CanvasDocument::decode(bytes);
  if (!document) return 0;
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 32, 24);
  cairo_t* cairo = cairo_create(surface);
  {
    quarn::ScopedCurrentContext current(cairo, quarn::CGSize{32, 24});
    const bool drawn = quarn::CanvasRasterizer::draw(*document, quarn::CGSize{32, 24});
    if (drawn && !document->contentBounds()) __builtin_trap();
    if (cairo_status(cairo) != CAIRO_STATUS_SUCCESS) __builtin_trap();
  }
  cairo_destroy(cairo);
  cairo_surface_destroy(surface);
  return 0;
}
