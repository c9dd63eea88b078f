// The platform's implicit "current" drawing context: a thread-local pointer
// to a cairo context, made current by a scoped guard in the host. While
// current, the context presents the platform's coordinate space: origin at
// the bottom left, y upward, one unit per device pixel.
#ifndef QUARN_PLATFORM_GRAPHICSCONTEXT_H_
#define QUARN_PLATFORM_GRAPHICSCONTEXT_H_

#include <cairo.h>
#include <pango/pangocairo.h>

#include "platform/Geometry.h"

namespace quarn {

class GraphicsContext {
 public:
  // The context made current on the calling thread, or nullptr when no
  // drawing is under way. Valid until the guard that made it current ends.
  static GraphicsContext* currentContext();

  // The drawing context; may be null when the host has none to give.
  cairo_t* CGContext() const { return cairo_; }
  // The drawable extent in the context's units.
  CGSize size() const { return size_; }

 private:
  friend class ScopedCurrentContext;
  GraphicsContext(cairo_t* cairo, CGSize size) : cairo_(cairo), size_(size) {}

  cairo_t* cairo_;
  CGSize size_;
};

// Makes `cairo` current on this thread for the guard's lifetime, with the
// bottom-up space applied over cairo's top-down one (extent `size`). Restores
// cairo's drawing state and the previously current context on destruction, so
// guards nest. `cairo` must outlive the guard; null is allowed and yields a
// current context without a drawing context.
class ScopedCurrentContext {
 public:
  ScopedCurrentContext(cairo_t* cairo, CGSize size);
  ~ScopedCurrentContext();
  ScopedCurrentContext(const ScopedCurrentContext&) = delete;
  ScopedCurrentContext& operator=(const ScopedCurrentContext&) = delete;

 private:
  GraphicsContext context_;
  GraphicsContext* previous_;
};

// Draws the first line of `layout` with its baseline origin at the user-space
// origin, glyphs upright in a y-upward user space (as the platform's line
// drawing does). Leaves the drawing state as it found it.
void drawLine(cairo_t* cairo, PangoLayout* layout);

}  // namespace quarn

#endif  // QUARN_PLATFORM_GRAPHICSCONTEXT_H_
