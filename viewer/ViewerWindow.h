// The preview window: a GTK window around a web view that shows the preview
// of one file at a time. Renders run on worker threads, the neighbours of the
// shown file ahead of time; keys step between files, re-render or close; a
// change of the file on disk re-renders it in place. The web view runs no
// script and loads nothing but the page, its "cid:" images and "data:" URIs.
// Main thread only.
#ifndef QUARN_VIEWER_VIEWERWINDOW_H_
#define QUARN_VIEWER_VIEWERWINDOW_H_

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include "base/Expected.h"
#include "platform/FileError.h"
#include "platform/QuickLookPreview.h"
#include "quicklook/QuarnPreview/PreviewService.h"

namespace quarn {

struct ViewerSettings {
  // The files named on the command line. Several: stepping goes through
  // them. One: stepping goes through the previewable files of its folder.
  std::vector<std::filesystem::path> files;
  // A still picture of the first file: the web view keeps the reply's
  // content size, nothing is rendered ahead and the file is not watched.
  bool snapshot = false;
};

// What became of the shown file: its page loaded with every image, or a
// message took its place.
struct ViewerOutcome {
  std::filesystem::path file;
  bool refused = false;
  std::optional<FileError> error;  // set when the file could not be read
  bool loaded() const { return !refused && !error; }
};

class ViewerWindow {
 public:
  // A new, hidden window. It belongs to its GtkWindow and goes with it.
  static ViewerWindow& create(ViewerSettings settings);

  // Shows `file`, given the reply already requested for it (null: refused).
  // The window is presented at once, at the reply's content size; the page
  // follows when the worker's render is done.
  void open(const std::filesystem::path& file, std::unique_ptr<QLPreviewReply> reply);
  // Shows `file`, asking for its reply first.
  void open(const std::filesystem::path& file);
  // Shows the next (or previous) file; false, with the error bell, at an end.
  bool step(bool forward);
  // Renders the shown file again; the page keeps its scroll position.
  void rerender();
  // Shows `preview` as the page of the shown file, as a finished render does.
  void showPreview(ShownPreview preview);
  // Closes the window for good; `onClosed` follows. The pending renders
  // finish unseen.
  void close();

  GtkWindow* window() const { return window_; }
  WebKitWebView* webView() const { return view_; }
  const std::filesystem::path& currentFile() const { return current_; }
  // The page shown now; null while a message is shown or before the first.
  const ShownPreview* currentPreview() const { return shown_.get(); }
  // Whether a render of `file` is done or under way, kept for a step to it.
  bool isRendered(const std::filesystem::path& file) const { return renders_.count(file) > 0; }

  // Called each time the shown file settles: page loaded, or message shown.
  std::function<void(const ViewerOutcome&)> onSettled;

  std::function<void()> onClosed;

  // Renders still running on worker threads, across all windows.
  static int rendersInFlight();

 private:
  struct Render {
    std::uint64_t generation = 0;
    bool done = false;
    bool refused = false;
    std::optional<FileError> error;
    std::shared_ptr<const ShownPreview> preview;
    std::filesystem::file_time_type stamp;
  };
  struct Job;

  explicit ViewerWindow(ViewerSettings settings);
  ~ViewerWindow();
  ViewerWindow(const ViewerWindow&) = delete;
  ViewerWindow& operator=(const ViewerWindow&) = delete;
  void build();
  void startRender(const std::filesystem::path& file, std::unique_ptr<QLPreviewReply> reply);
  void renderDone(Job& job);
  void present();
  void loadAhead();
  void dropPendingPage();
  void showMessage(const std::string& text);
  void renderAhead();
  void watch();
  void settle(const ViewerOutcome& outcome);
  std::vector<std::filesystem::path> stepList() const;

  void stop();

  static gboolean onCloseRequest(GtkWindow*, gpointer self);
  static void onDestroy(GtkWidget* widget, gpointer self);
  static gboolean onKey(GtkEventControllerKey*, guint keyval, guint, GdkModifierType state,
                        gpointer self);
  static void onPageRequest(WebKitURISchemeRequest* request, gpointer self);
  static void onAttachmentRequest(WebKitURISchemeRequest* request, gpointer self);
  static gboolean onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                 WebKitPolicyDecisionType type, gpointer self);
  static void onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self);
  static gboolean onLoadFailed(WebKitWebView*, WebKitLoadEvent, char* uri, GError* error,
                               gpointer self);
  static void onFileChanged(GFileMonitor*, GFile*, GFile*, GFileMonitorEvent event, gpointer self);

  ViewerSettings settings_;
  GtkWindow* window_ = nullptr;
  GtkStack* stack_ = nullptr;
  WebKitWebView* view_ = nullptr;
  GtkLabel* message_ = nullptr;
  WebKitWebContext* context_ = nullptr;
  GCancellable* cancel_ = nullptr;
  GFileMonitor* monitor_ = nullptr;
  unsigned changeTimer_ = 0;
  bool destroyed_ = false;

  std::filesystem::path current_;
  bool waiting_ = false;    // the shown file waits for its render
  bool reloading_ = false;  // the next page replaces the same file's page in place
  std::shared_ptr<const ShownPreview> shown_;
  std::string pageUri_;
  // The page's load was started before its render was done, so the web
  // process starts while the file renders; its request waits here.
  bool pageRequested_ = false;
  WebKitURISchemeRequest* pendingPage_ = nullptr;
  std::uint64_t pageSerial_ = 0;
  std::uint64_t generation_ = 0;
  std::map<std::filesystem::path, Render> renders_;
};

}  // namespace quarn

#endif  // QUARN_VIEWER_VIEWERWINDOW_H_
