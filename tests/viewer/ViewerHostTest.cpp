// quarn-view's run in this process, where its window can be looked at and
// closed as a user would: what a refused file shows, and a snapshot run that
// ends before its picture. Needs a display (CI runs it under a virtual one).
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/TestSupport.h"
#include "tests/viewer/ViewerTestSupport.h"
#include "viewer/ViewerHost.h"

namespace quarn {
namespace {

// The text of the first label on show in `widget`, or "".
std::string shownLabel(GtkWidget* widget) {
  if (GTK_IS_LABEL(widget) && gtk_widget_get_mapped(widget)) {
    return gtk_label_get_text(GTK_LABEL(widget));
  }
  for (GtkWidget* child = gtk_widget_get_first_child(widget); child;
       child = gtk_widget_get_next_sibling(child)) {
    std::string text = shownLabel(child);
    if (!text.empty()) return text;
  }
  return "";
}

class ViewerHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::haveDisplay()) GTEST_SKIP() << "no display";
  }
  // Runs the viewer; `poke` is offered each window on show until it returns true.
  static int runWith(const ViewerOptions& options, std::function<bool(GtkWindow*)> poke) {
    struct Offer {
      std::function<bool(GtkWindow*)> poke;
      bool taken = false;
    } offer{std::move(poke)};
    const unsigned source = g_timeout_add(
        5,
        [](gpointer data) {
          auto& state = *static_cast<Offer*>(data);
          GListModel* windows = gtk_window_get_toplevels();
          for (guint i = 0; i < g_list_model_get_n_items(windows) && !state.taken; ++i) {
            auto* window = GTK_WINDOW(g_list_model_get_item(windows, i));
            state.taken = gtk_widget_get_visible(GTK_WIDGET(window)) && state.poke(window);
            g_object_unref(window);
          }
          return gboolean{G_SOURCE_CONTINUE};
        },
        &offer);
    const int status = runViewer(options);
    g_source_remove(source);
    return status;
  }
};

TEST_F(ViewerHostTest, ASingleRefusedFileOpensAWindowSayingWhy) {
  test::TempDir dir;
  const auto file = dir.write("doc.pdf", "%PDF");
  std::string shown;
  const int status = runWith({{file.string()}, ColorScheme::light, ""}, [&](GtkWindow* window) {
    shown = shownLabel(GTK_WIDGET(window));
    if (shown.empty()) return false;
    gtk_window_close(window);
    return true;
  });
  EXPECT_EQ(status, 2);
  EXPECT_EQ(shown, "doc.pdf: the file type is not supported");
}

TEST_F(ViewerHostTest, ASnapshotWindowClosedBeforeItsPictureFails) {
  test::TempDir dir;
  const auto note = dir.write("a.md", "# A\n");
  const auto png = dir / "shot.png";
  // A snapshot run sets these for its process; the tests after this one get them back.
  std::vector<std::pair<const char*, std::optional<std::string>>> saved;
  for (const char* name : {"GDK_SCALE", "GSK_RENDERER", "GDK_DEBUG"}) {
    const char* value = g_getenv(name);
    saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
  }
  const int status =
      runWith({{note.string()}, ColorScheme::light, png.string()}, [](GtkWindow* window) {
        gtk_window_close(window);
        return true;
      });
  for (const auto& [name, value] : saved) {
    if (value) {
      g_setenv(name, value->c_str(), TRUE);
    } else {
      g_unsetenv(name);
    }
  }
  EXPECT_EQ(status, 1);
  EXPECT_FALSE(std::filesystem::exists(png));
}

}  // namespace
}  // namespace quarn
