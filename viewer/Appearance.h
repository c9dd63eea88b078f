// Light or dark: the page's prefers-color-scheme follows the desktop's
// colour-scheme setting (read from the settings portal, followed live), or
// the scheme forced on the command line.
#ifndef QUARN_VIEWER_APPEARANCE_H_
#define QUARN_VIEWER_APPEARANCE_H_

#include <cstdint>

#include <gio/gio.h>

namespace quarn {

enum class ColorScheme { system, light, dark };

// Whether pages take their dark appearance. A forced scheme wins; under
// `system`, `desktopValue` is the portal's colour-scheme value (1 prefers
// dark, 2 prefers light, 0 or anything else no preference, which is light).
bool prefersDark(ColorScheme scheme, std::uint32_t desktopValue);

// Applies the appearance to GTK's settings, which web views pass on to their
// pages, for as long as it lives. Under `system` it asks the portal once
// (bounded wait) and then follows the portal's change signal. Without a
// session bus or portal the pages stay light. Needs GTK initialised.
class DesktopAppearance {
 public:
  explicit DesktopAppearance(ColorScheme scheme);
  ~DesktopAppearance();
  DesktopAppearance(const DesktopAppearance&) = delete;
  DesktopAppearance& operator=(const DesktopAppearance&) = delete;

 private:
  GDBusConnection* bus_ = nullptr;
  unsigned subscription_ = 0;
};

}  // namespace quarn

#endif  // QUARN_VIEWER_APPEARANCE_H_
