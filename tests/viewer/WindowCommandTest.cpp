// What the window's keys do, and how far its pages zoom.
#include <gtest/gtest.h>

#include "viewer/WindowCommand.h"

namespace quarn {
namespace {

TEST(WindowCommandTest, MapsTheWindowsKeysAndLeavesTheRestToThePage) {
  const auto ctrl = GDK_CONTROL_MASK;
  const auto ctrlShift = static_cast<GdkModifierType>(GDK_CONTROL_MASK | GDK_SHIFT_MASK);
  const auto none = static_cast<GdkModifierType>(0);
  const struct {
    unsigned key;
    GdkModifierType state;
    WindowCommand expected;
  } rows[] = {
      {GDK_KEY_Right, none, WindowCommand::next},
      {GDK_KEY_KP_Down, none, WindowCommand::next},
      {GDK_KEY_Up, none, WindowCommand::previous},
      {GDK_KEY_Left, GDK_ALT_MASK, WindowCommand::none},  // the desktop's, not ours
      {GDK_KEY_Escape, none, WindowCommand::close},
      {GDK_KEY_q, ctrl, WindowCommand::close},
      {GDK_KEY_R, ctrlShift, WindowCommand::rerender},
      {GDK_KEY_plus, ctrlShift, WindowCommand::zoomIn},
      {GDK_KEY_equal, ctrl, WindowCommand::zoomIn},
      {GDK_KEY_KP_Add, ctrl, WindowCommand::zoomIn},
      {GDK_KEY_minus, ctrl, WindowCommand::zoomOut},
      {GDK_KEY_KP_Subtract, ctrl, WindowCommand::zoomOut},
      {GDK_KEY_0, ctrl, WindowCommand::zoomReset},
      {GDK_KEY_KP_0, ctrl, WindowCommand::zoomReset},
      {GDK_KEY_plus, none, WindowCommand::none},
      {GDK_KEY_c, ctrl, WindowCommand::none},  // copying text stays the page's
  };
  for (const auto& row : rows) {
    EXPECT_EQ(commandFor(row.key, row.state), row.expected) << gdk_keyval_name(row.key);
  }
}

TEST(WindowCommandTest, ZoomStepsStopAtTheBoundsAndResetToThePagesSize) {
  const struct {
    WindowCommand command;
    double level, expected;
  } rows[] = {
      {WindowCommand::zoomIn, 1.0, 1.1},           {WindowCommand::zoomOut, 1.0, 0.9},
      {WindowCommand::zoomIn, 1.0999, 1.25},  // a level read back a little off
      {WindowCommand::zoomIn, kMaxZoom, kMaxZoom}, {WindowCommand::zoomOut, kMinZoom, kMinZoom},
      {WindowCommand::zoomOut, 8.0, kMaxZoom},     {WindowCommand::zoomIn, 0.1, kMinZoom},
      {WindowCommand::zoomReset, 2.5, 1.0},        {WindowCommand::next, 2.5, 2.5},
  };
  for (const auto& row : rows) {
    EXPECT_DOUBLE_EQ(zoomAfter(row.command, row.level), row.expected)
        << static_cast<int>(row.command) << " from " << row.level;
  }
}

}  // namespace
}  // namespace quarn
