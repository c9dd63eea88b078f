#include "platform/GraphicsContext.h"

namespace quarn {

namespace {
thread_local GraphicsContext* tCurrent = nullptr;
}  // namespace

GraphicsContext* GraphicsContext::currentContext() { return tCurrent; }

ScopedCurrentContext::ScopedCurrentContext(cairo_t* cairo, CGSize size)
    : context_(cairo, size), previous_(tCurrent) {
  if (cairo != nullptr) {
    cairo_save(cairo);
    cairo_translate(cairo, 0, size.height);
    cairo_scale(cairo, 1, -1);
  }
  tCurrent = &context_;
}

ScopedCurrentContext::~ScopedCurrentContext() {
  if (context_.cairo_ != nullptr) cairo_restore(context_.cairo_);
  tCurrent = previous_;
}

void drawLine(cairo_t* cairo, PangoLayout* layout) {
  PangoLayoutLine* line = pango_layout_get_line_readonly(layout, 0);
  if (line == nullptr) return;
  cairo_save(cairo);
  // Pango lays glyphs out for a y-downward space; flip back so they stand
  // upright in the caller's y-upward one. A line is drawn from its baseline.
  cairo_scale(cairo, 1, -1);
  cairo_move_to(cairo, 0, 0);
  pango_cairo_show_layout_line(cairo, line);
  cairo_restore(cairo);
}

}  // namespace quarn
