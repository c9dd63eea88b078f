// The preview window: a GTK window around a web view that shows the preview
// of one file at a time. Renders run in a worker process, one at a time, the
// shown file's before those of its neighbours, which are rendered ahead; a
// render whose worker ends shows a message instead of the page, and the next
// one runs in a fresh worker. Keys step between files, re-render or close; a
// change of the file on disk re-renders it in place. The web view runs no
// script and loads nothing but the page, its "cid:" images and "data:" URIs.
// Main thread only.
#ifndef QUARN_VIEWER_VIEWERWINDOW_H_
#define QUARN_VIEWER_VIEWERWINDOW_H_

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
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
#include "viewer/RenderCache.h"
#include "viewer/RenderWorker.h"
#include "viewer/WindowCommand.h"

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
  // Set when the file's render ended without a page (its worker ran out of
  // memory or ended otherwise), or its page could not be shown (the load
  // failed, or the web process showing it ended): why, without the file.
  std::string pageFailure;
  bool loaded() const { return !refused && !error && pageFailure.empty(); }
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
  // Renders the shown file again; the page keeps its scroll position. After a
  // message (a page that failed, a web process that ended) the page loads
  // afresh, in a new web process when the old one is gone.
  void rerender();
  // Does what the key bound to `command` does.
  void run(WindowCommand command);
  // Closes the window for good; `onClosed` follows. The pending renders
  // are dropped and the worker ends.
  void close();

  GtkWindow* window() const { return window_; }
  WebKitWebView* webView() const { return view_; }
  // The page shown now; null while a message is shown or before the first.
  const ShownPreview* currentPreview() const { return shown_.get(); }
  // The pages' zoom level, kept from file to file.
  double zoomLevel() const { return zoom_; }

  // Called each time the shown file settles: page loaded, or message shown.
  std::function<void(const ViewerOutcome&)> onSettled;
  // Called once when the window goes, closed by the user, by close() or
  // destroyed from outside.
  std::function<void()> onClosed;

  // Renders sent to a worker and not yet answered, across all windows.
  static int rendersInFlight();

 private:
  friend class ViewerWindowPeer;  // the tests' look inside

  // The handshake between the shown file's render and the web view's load
  // of its page: exactly one of these at a time.
  enum class Page {
    message,      // a message stands in for the page, or nothing is shown yet
    ahead,        // the page's load was started before its render is done, so
                  // the web process starts meanwhile; its request for the page
                  // waits in pendingPage_ once it comes
    rendering,    // no page yet: the page loads once the render is done
    rerendering,  // the page stays while its file renders again, then
                  // reloads in place, keeping its scroll position
    shown,        // the page of the current render is loading or loaded
  };
  struct Job {
    std::filesystem::path file;
    std::uint64_t generation = 0;
  };

  explicit ViewerWindow(ViewerSettings settings);
  ~ViewerWindow();
  ViewerWindow(const ViewerWindow&) = delete;
  ViewerWindow& operator=(const ViewerWindow&) = delete;
  void build();
  bool waiting() const {
    return page_ == Page::ahead || page_ == Page::rendering || page_ == Page::rerendering;
  }
  void startRender(const std::filesystem::path& file, std::unique_ptr<QLPreviewReply> reply);
  void sendRender();
  void renderDone(WorkerResult result);
  void dropRender();
  void present();
  void loadPage();
  void dropPendingPage();
  void failPage(const std::string& cause);
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
  static void onWebProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason reason,
                                     gpointer self);
  static gboolean onWorkerReadable(gint, GIOCondition, gpointer self);
  static void onFileChanged(GFileMonitor*, GFile*, GFile*, GFileMonitorEvent event, gpointer self);

  ViewerSettings settings_;
  GtkWindow* window_ = nullptr;
  GtkStack* stack_ = nullptr;
  WebKitWebView* view_ = nullptr;
  GtkLabel* message_ = nullptr;
  WebKitWebContext* context_ = nullptr;
  GFileMonitor* monitor_ = nullptr;
  unsigned changeTimer_ = 0;
  bool destroyed_ = false;
  double zoom_ = 1.0;

  std::filesystem::path current_;
  Page page_ = Page::message;
  std::shared_ptr<const ShownPreview> shown_;  // set while page_ is shown or rerendering
  std::string pageUri_;
  WebKitURISchemeRequest* pendingPage_ = nullptr;  // only while page_ is ahead
  std::uint64_t pageSerial_ = 0;
  RenderCache renders_;
  RenderWorker worker_;
  std::deque<Job> queued_;        // renders waiting for the worker
  std::optional<Job> rendering_;  // the render the worker is on
  unsigned workerWatch_ = 0;      // the main loop's watch on its reply
};

}  // namespace quarn

#endif  // QUARN_VIEWER_VIEWERWINDOW_H_
