#include "viewer/Appearance.h"

#include <gtk/gtk.h>

namespace quarn {
namespace {

constexpr const char* kPortal = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kSettings = "org.freedesktop.portal.Settings";
constexpr int kPortalTimeoutMs = 300;

// WebKit gives pages the dark appearance when GTK prefers the dark theme.
void applyDark(bool dark) {
  g_object_set(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", dark ? TRUE : FALSE,
               nullptr);
}

// Older portals wrap the value in a second variant.
std::uint32_t colorSchemeValue(GVariant* value) {
  GVariant* inner = g_variant_ref(value);
  while (g_variant_is_of_type(inner, G_VARIANT_TYPE_VARIANT)) {
    GVariant* next = g_variant_get_variant(inner);
    g_variant_unref(inner);
    inner = next;
  }
  const std::uint32_t result =
      g_variant_is_of_type(inner, G_VARIANT_TYPE_UINT32) ? g_variant_get_uint32(inner) : 0;
  g_variant_unref(inner);
  return result;
}

void onSettingChanged(GDBusConnection*, const char*, const char*, const char*, const char*,
                      GVariant* parameters, gpointer) {
  const char* group = nullptr;
  const char* key = nullptr;
  GVariant* value = nullptr;
  g_variant_get(parameters, "(&s&sv)", &group, &key, &value);
  if (g_str_equal(group, "org.freedesktop.appearance") && g_str_equal(key, "color-scheme")) {
    applyDark(prefersDark(ColorScheme::system, colorSchemeValue(value)));
  }
  g_variant_unref(value);
}

}  // namespace

bool prefersDark(ColorScheme scheme, std::uint32_t desktopValue) {
  switch (scheme) {
    case ColorScheme::light:
      return false;
    case ColorScheme::dark:
      return true;
    case ColorScheme::system:
      return desktopValue == 1;
  }
  return false;
}

DesktopAppearance::DesktopAppearance(ColorScheme scheme) {
  if (scheme != ColorScheme::system) {
    applyDark(prefersDark(scheme, 0));
    return;
  }
  applyDark(false);
  bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (!bus_) return;
  subscription_ = g_dbus_connection_signal_subscribe(
      bus_, kPortal, kSettings, "SettingChanged", kPortalPath, "org.freedesktop.appearance",
      G_DBUS_SIGNAL_FLAGS_NONE, onSettingChanged, nullptr, nullptr);
  GVariant* reply = g_dbus_connection_call_sync(
      bus_, kPortal, kPortalPath, kSettings, "Read",
      g_variant_new("(ss)", "org.freedesktop.appearance", "color-scheme"), G_VARIANT_TYPE("(v)"),
      G_DBUS_CALL_FLAGS_NONE, kPortalTimeoutMs, nullptr, nullptr);
  if (!reply) return;
  GVariant* value = g_variant_get_child_value(reply, 0);
  applyDark(prefersDark(ColorScheme::system, colorSchemeValue(value)));
  g_variant_unref(value);
  g_variant_unref(reply);
}

DesktopAppearance::~DesktopAppearance() {
  if (subscription_) g_dbus_connection_signal_unsubscribe(bus_, subscription_);
  if (bus_) g_object_unref(bus_);
}

}  // namespace quarn
