// The appearance follows the desktop's colour-scheme setting as the settings
// portal reports it, and its changes. A stand-in portal answers on the
// session bus (CI runs this under dbus-run-session and xvfb-run).
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>

#include "tests/viewer/ViewerTestSupport.h"
#include "viewer/Appearance.h"

namespace quarn {
namespace {

constexpr const char* kPath = "/org/freedesktop/portal/desktop";
constexpr const char* kInterface = "org.freedesktop.portal.Settings";

// Owns the portal's name on its own connection and thread, so the viewer's
// blocking read on the main thread gets its answer.
class StandInPortal {
 public:
  explicit StandInPortal(std::uint32_t value) : value_(value) {
    thread_ = std::thread([this] { run(); });
    test::waitFor([this] { return ready_.load(); }, 10);
  }
  ~StandInPortal() {
    g_main_loop_quit(loop_);
    thread_.join();
  }
  StandInPortal(const StandInPortal&) = delete;
  StandInPortal& operator=(const StandInPortal&) = delete;

  bool ready() const { return owned_; }
  void change(std::uint32_t value) {
    value_ = value;
    g_dbus_connection_emit_signal(bus_, nullptr, kPath, kInterface, "SettingChanged",
                                  g_variant_new("(ssv)", "org.freedesktop.appearance",
                                                "color-scheme", g_variant_new_uint32(value)),
                                  nullptr);
  }

 private:
  void run() {
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    loop_ = g_main_loop_new(context, FALSE);
    char* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    bus_ = g_dbus_connection_new_for_address_sync(
        address,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    g_free(address);
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(
        "<node><interface name='org.freedesktop.portal.Settings'><method name='Read'>"
        "<arg type='s' direction='in'/><arg type='s' direction='in'/>"
        "<arg type='v' direction='out'/></method></interface></node>",
        nullptr);
    static const GDBusInterfaceVTable vtable = {
        [](GDBusConnection*, const char*, const char*, const char*, const char*, GVariant*,
           GDBusMethodInvocation* call, gpointer self) {
          // The older portals' shape: the value wrapped twice.
          const std::uint32_t value = static_cast<StandInPortal*>(self)->value_;
          g_dbus_method_invocation_return_value(
              call, g_variant_new("(v)", g_variant_new_variant(g_variant_new_uint32(value))));
        },
        nullptr,
        nullptr,
        {}};
    if (bus_) {
      g_dbus_connection_register_object(bus_, kPath, node->interfaces[0], &vtable, this, nullptr,
                                        nullptr);
      GVariant* reply = g_dbus_connection_call_sync(
          bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
          "RequestName", g_variant_new("(su)", "org.freedesktop.portal.Desktop", 4u),
          G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
      if (reply) {
        std::uint32_t result = 0;
        g_variant_get(reply, "(u)", &result);
        owned_ = result == 1;  // primary owner
        g_variant_unref(reply);
      }
    }
    ready_ = true;
    g_main_loop_run(loop_);
    if (bus_) g_object_unref(bus_);
    g_dbus_node_info_unref(node);
    g_main_loop_unref(loop_);
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
  }

  std::atomic<std::uint32_t> value_;
  std::atomic<bool> ready_ = false;
  bool owned_ = false;
  GMainLoop* loop_ = nullptr;
  GDBusConnection* bus_ = nullptr;
  std::thread thread_;
};

bool gtkPrefersDark() {
  gboolean dark = FALSE;
  g_object_get(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", &dark, nullptr);
  return dark;
}

TEST(AppearanceTest, FollowsTheDesktopSettingAndItsChanges) {
  if (!std::getenv("DBUS_SESSION_BUS_ADDRESS") || !test::haveDisplay() || !gtk_init_check()) {
    GTEST_SKIP() << "needs a display and a session bus";
  }
  StandInPortal portal(1);
  ASSERT_TRUE(portal.ready());
  DesktopAppearance appearance(ColorScheme::system);
  EXPECT_TRUE(gtkPrefersDark());
  portal.change(2);
  EXPECT_TRUE(test::waitFor([] { return !gtkPrefersDark(); }, 5));
  portal.change(1);
  EXPECT_TRUE(test::waitFor([] { return gtkPrefersDark(); }, 5));
}

}  // namespace
}  // namespace quarn
