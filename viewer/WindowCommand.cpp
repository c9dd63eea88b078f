#include "viewer/WindowCommand.h"

#include <algorithm>
#include <array>

namespace quarn {
namespace {

// Steps a user knows from browsers: fine near the page's own size, coarser
// further out.
constexpr std::array<double, 13> kZoomLevels = {0.5,  0.67, 0.75, 0.8, 0.9, 1.0, 1.1,
                                                1.25, 1.5,  1.75, 2.0, 2.5, 3.0};
// Levels closer than this are one level: a level read back from the web view
// need not be exactly the one set.
constexpr double kSameLevel = 0.01;

}  // namespace

WindowCommand commandFor(unsigned keyval, GdkModifierType state) {
  if (state & GDK_CONTROL_MASK) {
    switch (keyval) {
      case GDK_KEY_r:
      case GDK_KEY_R:
        return WindowCommand::rerender;
      case GDK_KEY_w:
      case GDK_KEY_q:
        return WindowCommand::close;
      // Plus sits on the equals key of most layouts, with or without Shift.
      case GDK_KEY_plus:
      case GDK_KEY_equal:
      case GDK_KEY_KP_Add:
        return WindowCommand::zoomIn;
      case GDK_KEY_minus:
      case GDK_KEY_KP_Subtract:
        return WindowCommand::zoomOut;
      case GDK_KEY_0:
      case GDK_KEY_KP_0:
        return WindowCommand::zoomReset;
      default:
        return WindowCommand::none;
    }
  }
  if (state & (GDK_ALT_MASK | GDK_SUPER_MASK)) return WindowCommand::none;
  switch (keyval) {
    case GDK_KEY_Escape:
    case GDK_KEY_space:
      return WindowCommand::close;
    case GDK_KEY_Left:
    case GDK_KEY_Up:
    case GDK_KEY_KP_Left:
    case GDK_KEY_KP_Up:
      return WindowCommand::previous;
    case GDK_KEY_Right:
    case GDK_KEY_Down:
    case GDK_KEY_KP_Right:
    case GDK_KEY_KP_Down:
      return WindowCommand::next;
    default:
      return WindowCommand::none;
  }
}

double zoomAfter(WindowCommand command, double level) {
  switch (command) {
    case WindowCommand::zoomIn: {
      const auto it = std::find_if(kZoomLevels.begin(), kZoomLevels.end(),
                                   [&](double step) { return step > level + kSameLevel; });
      return it == kZoomLevels.end() ? kMaxZoom : *it;
    }
    case WindowCommand::zoomOut: {
      const auto it = std::find_if(kZoomLevels.rbegin(), kZoomLevels.rend(),
                                   [&](double step) { return step < level - kSameLevel; });
      return it == kZoomLevels.rend() ? kMinZoom : *it;
    }
    case WindowCommand::zoomReset:
      return 1.0;
    default:
      return level;
  }
}

}  // namespace quarn
