// The preview window driven through its own code: stepping, messages in
// place of pages, re-rendering on change, a web process that ends, zoom, and
// a page that tries to load. Needs a display (CI runs it under xvfb-run).
#include <signal.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/TestSupport.h"
#include "tests/viewer/ViewerTestSupport.h"
#include "viewer/ViewerWindow.h"

namespace quarn {

// The tests' look inside a window.
class ViewerWindowPeer {
 public:
  static bool isRendered(const ViewerWindow& window, const std::filesystem::path& file) {
    return window.renders_.find(file) != nullptr;
  }
  // Shows `preview` as the page of the shown file, as a finished render does.
  static void show(ViewerWindow& window, ShownPreview preview) {
    window.renders_.finish(window.current_, window.renders_.start(window.current_),
                           std::move(preview));
    window.page_ = ViewerWindow::Page::rendering;
    window.present();
  }
  // The render worker's process; 0 when none runs.
  static pid_t workerPid(const ViewerWindow& window) { return window.worker_.pid(); }
  // The message on show in place of the page, or "" while the page is.
  static std::string message(const ViewerWindow& window) {
    if (gtk_stack_get_visible_child(window.stack_) != GTK_WIDGET(window.message_)) return "";
    return gtk_label_get_text(window.message_);
  }
};

namespace {

class ViewerWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static const bool ready = test::haveDisplay() && gtk_init_check();
    if (!ready) GTEST_SKIP() << "no display";
  }
  void TearDown() override {
    if (window_) window_->close();
    test::waitFor([] { return ViewerWindow::rendersInFlight() == 0; });
  }

  ViewerWindow& open(std::vector<std::filesystem::path> files) {
    window_ = &ViewerWindow::create({files, false});
    window_->onSettled = [this](const ViewerOutcome& outcome) { outcomes_.push_back(outcome); };
    window_->open(files.front());
    return *window_;
  }
  // Waits for the next settled outcome.
  const ViewerOutcome& settled() {
    const std::size_t before = seen_;
    EXPECT_TRUE(test::waitFor([&] { return outcomes_.size() > before; }));
    seen_ = outcomes_.size();
    return outcomes_.back();
  }
  std::string title() const { return gtk_window_get_title(window_->window()); }
  int evaluate(const char* script) {
    std::optional<int> result;
    webkit_web_view_evaluate_javascript(
        window_->webView(), script, -1, nullptr, nullptr, nullptr,
        [](GObject* view, GAsyncResult* res, gpointer data) {
          JSCValue* value =
              webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(view), res, nullptr);
          *static_cast<std::optional<int>*>(data) = value ? jsc_value_to_int32(value) : -1;
          if (value) g_object_unref(value);
        },
        &result);
    EXPECT_TRUE(test::waitFor([&] { return result.has_value(); }));
    return result.value_or(-1);
  }

  ViewerWindow* window_ = nullptr;
  std::vector<ViewerOutcome> outcomes_;
  std::size_t seen_ = 0;
};

TEST_F(ViewerWindowTest, StepsThroughTheFolderInFileManagerOrderRenderingAhead) {
  test::TempDir dir;
  for (const char* name : {"note 2.md", "Note 3.md", "note 10.md", "b.json", "x.pdf"}) {
    dir.write(name, std::string("# ") + name + "\n");
  }
  ViewerWindow& window = open({dir / "note 2.md"});
  ASSERT_TRUE(settled().loaded());
  EXPECT_EQ(title(), "note 2.md");
  EXPECT_TRUE(ViewerWindowPeer::isRendered(window, dir / "Note 3.md"));
  EXPECT_TRUE(ViewerWindowPeer::isRendered(window, dir / "b.json"));

  for (const char* expected : {"Note 3.md", "note 10.md"}) {
    ASSERT_TRUE(window.step(true));
    ASSERT_TRUE(settled().loaded()) << expected;
    EXPECT_EQ(title(), expected);
    EXPECT_NE(window.currentPreview()->page.find(std::string("<h1>") + expected),
              std::string::npos);
  }
  EXPECT_FALSE(window.step(true));
  ASSERT_TRUE(window.step(false));
  EXPECT_EQ(settled().file.filename(), "Note 3.md");
}

TEST_F(ViewerWindowTest, RefusedAndUnreadableFilesShowAMessageInsteadOfAPage) {
  test::TempDir dir;
  dir.write("a.md", "# A\n");
  dir.write("b.pdf", "%PDF");
  ViewerWindow& window = open({dir / "a.md", dir / "b.pdf", dir / "gone.md"});
  ASSERT_TRUE(settled().loaded());

  ASSERT_TRUE(window.step(true));
  const ViewerOutcome refused = settled();
  EXPECT_TRUE(refused.refused);
  EXPECT_EQ(window.currentPreview(), nullptr);
  EXPECT_EQ(title(), "b.pdf");

  ASSERT_TRUE(window.step(true));
  const ViewerOutcome unreadable = settled();
  ASSERT_TRUE(unreadable.error.has_value());
  EXPECT_EQ(unreadable.error->code, FileError::Code::fileReadNoSuchFile);

  ASSERT_TRUE(window.step(false));
  EXPECT_TRUE(settled().refused);
  ASSERT_TRUE(window.step(false));
  EXPECT_TRUE(settled().loaded());
}

TEST_F(ViewerWindowTest, RerendersWhenTheFileChangesAndKeepsTheScrollPosition) {
  test::TempDir dir;
  std::string text;
  for (int i = 0; i < 200; ++i) text += "Line " + std::to_string(i) + "\n\n";
  const auto note = dir.write("long.md", text);
  ViewerWindow& window = open({note});
  // Only to look at the page from here; the page's own scripts stay off.
  webkit_settings_set_enable_javascript(webkit_web_view_get_settings(window.webView()), TRUE);
  ASSERT_TRUE(settled().loaded());
  ASSERT_EQ(evaluate("window.scrollTo(0, 1500); window.scrollY"), 1500);

  dir.write("long.md", text + "Changed on disk\n");
  ASSERT_TRUE(settled().loaded());
  EXPECT_NE(window.currentPreview()->page.find("Changed on disk"), std::string::npos);
  EXPECT_EQ(evaluate("window.scrollY"), 1500);

  window.rerender();
  ASSERT_TRUE(settled().loaded());
  EXPECT_EQ(evaluate("window.scrollY"), 1500);
}

TEST_F(ViewerWindowTest, AWebProcessThatEndsLeavesAMessageAndCtrlRShowsThePageAgain) {
  test::TempDir dir;
  ViewerWindow& window = open({dir.write("a.md", "# A\n")});
  // While its first page loads, as a crash would.
  webkit_web_view_terminate_web_process(window.webView());
  const ViewerOutcome ended = settled();
  EXPECT_FALSE(ended.loaded());
  EXPECT_FALSE(ended.pageFailure.empty());
  EXPECT_EQ(window.currentPreview(), nullptr);
  EXPECT_EQ(ViewerWindowPeer::message(window).rfind("a.md: " + ended.pageFailure, 0), 0u)
      << ViewerWindowPeer::message(window);

  window.run(WindowCommand::rerender);
  ASSERT_TRUE(settled().loaded());
  EXPECT_EQ(ViewerWindowPeer::message(window), "");
  ASSERT_NE(window.currentPreview(), nullptr);
}

TEST_F(ViewerWindowTest, ARenderWorkerThatEndsLeavesAMessageAndTheNextStepShowsItsPage) {
  test::TempDir dir;
  std::string text;
  // A page larger than the worker's socket holds cannot have come before the kill.
  for (int i = 0; i < 40000; ++i) text += "Paragraph " + std::to_string(i) + " of the note.\n\n";
  dir.write("a.md", text);
  dir.write("b.md", "# B\n");
  ViewerWindow& window = open({dir / "a.md"});
  ASSERT_GT(ViewerWindowPeer::workerPid(window), 0);
  ASSERT_EQ(::kill(ViewerWindowPeer::workerPid(window), SIGKILL), 0);
  const ViewerOutcome ended = settled();
  EXPECT_EQ(ended.pageFailure, "the render ended (killed by signal 9)");
  EXPECT_EQ(ViewerWindowPeer::message(window), "a.md: the render ended (killed by signal 9)");

  ASSERT_TRUE(window.step(true));
  ASSERT_TRUE(settled().loaded());
  EXPECT_EQ(title(), "b.md");
}

TEST_F(ViewerWindowTest, ZoomScalesThePageAndStaysFromFileToFile) {
  test::TempDir dir;
  dir.write("a.md", "# A\n");
  dir.write("b.md", "# B\n");
  ViewerWindow& window = open({dir / "a.md"});
  webkit_settings_set_enable_javascript(webkit_web_view_get_settings(window.webView()), TRUE);
  ASSERT_TRUE(settled().loaded());
  const int width = evaluate("window.innerWidth");

  window.run(WindowCommand::zoomIn);
  window.run(WindowCommand::zoomIn);
  EXPECT_DOUBLE_EQ(window.zoomLevel(), 1.25);
  EXPECT_NEAR(evaluate("window.innerWidth"), width / 1.25, 1);
  ASSERT_TRUE(window.step(true));
  ASSERT_TRUE(settled().loaded());
  EXPECT_NEAR(evaluate("window.innerWidth"), width / 1.25, 1);

  window.run(WindowCommand::zoomReset);
  EXPECT_EQ(evaluate("window.innerWidth"), width);
}

TEST_F(ViewerWindowTest, APageThatTriesToLoadAnythingReachesNoServer) {
  test::LocalServer server;
  const std::string url = server.url();
  test::TempDir dir;
  ViewerWindow& window = open({dir.write("a.md", "# A\n")});
  ASSERT_TRUE(settled().loaded());

  const std::string page =
      "<!DOCTYPE html><html><head>"
      "<link rel=\"preconnect\" href=\"" +
      url +
      "/preconnect\">"
      "<link rel=\"dns-prefetch\" href=\"" +
      url +
      "/dns\">"
      "<link rel=\"preload\" as=\"image\" href=\"" +
      url +
      "/preload.png\">"
      "<link rel=\"prefetch\" href=\"" +
      url +
      "/prefetch\">"
      "<link rel=\"stylesheet\" href=\"" +
      url +
      "/style.css\">"
      "<meta http-equiv=\"refresh\" content=\"0; url=" +
      url +
      "/refresh\">"
      "<style>@import url(" +
      url + "/import.css); body { background: url(" + url +
      "/background.png); } @font-face { font-family: f; src: url(" + url +
      "/font.woff); }"
      " p { font-family: f; }</style></head><body><p>text</p>"
      "<img src=\"" +
      url + "/image.png\"><img srcset=\"" + url +
      "/srcset.png 2x\">"
      "<svg><image href=\"" +
      url +
      "/svg.png\" width=\"10\" height=\"10\"/></svg>"
      "<iframe src=\"" +
      url + "/frame\"></iframe><script src=\"" + url +
      "/script.js\"></script>"
      "<video src=\"" +
      url +
      "/video\" preload=\"auto\"></video>"
      "<object data=\"" +
      url + "/object\"></object><embed src=\"" + url +
      "/embed\">"
      "</body></html>";
  ViewerWindowPeer::show(window, {"hostile", page, {}});
  ASSERT_TRUE(settled().loaded());
  test::waitFor([] { return false; }, 0.5);  // time for any late request
  EXPECT_EQ(server.connections(), 0);
}

}  // namespace
}  // namespace quarn
