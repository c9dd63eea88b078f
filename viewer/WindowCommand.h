// What the preview window's keys do, and the zoom levels its pages step
// through. Decides from the key alone; needs no display. Stateless.
#ifndef QUARN_VIEWER_WINDOWCOMMAND_H_
#define QUARN_VIEWER_WINDOWCOMMAND_H_

#include <gdk/gdk.h>

namespace quarn {

enum class WindowCommand {
  none,  // not one of the window's keys: the web view gets it
  previous,
  next,
  rerender,
  close,
  zoomIn,
  zoomOut,
  zoomReset,
};

// The command of the key `keyval` pressed with the modifiers `state`.
WindowCommand commandFor(unsigned keyval, GdkModifierType state);

// Page zoom: 1 is the page's own size; levels stay from kMinZoom to kMaxZoom.
inline constexpr double kMinZoom = 0.5;
inline constexpr double kMaxZoom = 3.0;

// The zoom level after `command` from `level`: the next step in or out
// (held at either bound), 1 for zoomReset, `level` for any other command.
double zoomAfter(WindowCommand command, double level);

}  // namespace quarn

#endif  // QUARN_VIEWER_WINDOWCOMMAND_H_
