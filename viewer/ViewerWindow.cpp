#include "viewer/ViewerWindow.h"

#include <algorithm>
#include <utility>

#include <glib-unix.h>

#include "viewer/Neighbours.h"
#include "viewer/PagePolicy.h"

namespace quarn {
namespace {

constexpr const char* kPageScheme = "quarn-page";
constexpr unsigned kChangeSettleMs = 100;
int gRendersInFlight = 0;

// Features that would let a page open connections outside its content
// security policy (hints that connect or resolve ahead of any request).
constexpr const char* kBlockedFeatures[] = {"LinkPreconnect", "LinkPreconnectEarlyHints",
                                            "LinkDNSPrefetch", "LinkPreload", "LinkPrefetch"};

std::string withoutFragment(std::string_view uri) {
  return std::string(uri.substr(0, uri.find('#')));
}

void finishNotFound(WebKitURISchemeRequest* request) {
  GError* error = g_error_new_literal(G_IO_ERROR, G_IO_ERROR_NOT_FOUND, "not part of this page");
  webkit_uri_scheme_request_finish_error(request, error);
  g_error_free(error);
}

// Hands `bytes` (kept alive by `owner`) to WebKit without copying them.
void finishWith(WebKitURISchemeRequest* request, std::string_view bytes, const char* contentType,
                std::shared_ptr<const ShownPreview> owner, bool withPolicy) {
  auto* keep = new std::shared_ptr<const ShownPreview>(std::move(owner));
  GBytes* data = g_bytes_new_with_free_func(
      bytes.data(), bytes.size(),
      [](gpointer p) { delete static_cast<std::shared_ptr<const ShownPreview>*>(p); }, keep);
  GInputStream* stream = g_memory_input_stream_new_from_bytes(data);
  WebKitURISchemeResponse* response =
      webkit_uri_scheme_response_new(stream, static_cast<gint64>(bytes.size()));
  webkit_uri_scheme_response_set_content_type(response, contentType);
  if (withPolicy) {
    SoupMessageHeaders* headers = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
    soup_message_headers_append(headers, "Content-Security-Policy",
                                std::string(kContentSecurityPolicy).c_str());
    webkit_uri_scheme_response_set_http_headers(response, headers);
  }
  webkit_uri_scheme_request_finish_with_response(request, response);
  g_object_unref(response);
  g_object_unref(stream);
  g_bytes_unref(data);
}

}  // namespace

int ViewerWindow::rendersInFlight() { return gRendersInFlight; }

ViewerWindow& ViewerWindow::create(ViewerSettings settings) {
  auto* self = new ViewerWindow(std::move(settings));
  self->build();
  return *self;
}

ViewerWindow::ViewerWindow(ViewerSettings settings) : settings_(std::move(settings)) {
  for (auto& file : settings_.files) file = std::filesystem::absolute(file).lexically_normal();
}

ViewerWindow::~ViewerWindow() {
  dropRender();
  g_object_unref(context_);
}

void ViewerWindow::build() {
  window_ = GTK_WINDOW(gtk_window_new());
  g_object_set_data_full(G_OBJECT(window_), "quarn-viewer", this,
                         [](gpointer self) { delete static_cast<ViewerWindow*>(self); });
  gtk_window_set_icon_name(window_, "quarn-view");

  // One context per window: its own page and attachment schemes, no cache
  // or storage kept between runs.
  context_ = webkit_web_context_new();
  webkit_web_context_set_cache_model(context_, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
  webkit_web_context_register_uri_scheme(context_, kPageScheme, onPageRequest, this, nullptr);
  webkit_web_context_register_uri_scheme(context_, "cid", onAttachmentRequest, this, nullptr);
  WebKitNetworkSession* session = webkit_network_session_new_ephemeral();

  WebKitSettings* settings = webkit_settings_new();
  webkit_settings_set_enable_javascript(settings, FALSE);
  webkit_settings_set_enable_javascript_markup(settings, FALSE);
  webkit_settings_set_enable_page_cache(settings, FALSE);
  webkit_settings_set_enable_back_forward_navigation_gestures(settings, FALSE);
  WebKitFeatureList* features = webkit_settings_get_all_features();
  for (gsize i = 0; i < webkit_feature_list_get_length(features); ++i) {
    WebKitFeature* feature = webkit_feature_list_get(features, i);
    const std::string_view id = webkit_feature_get_identifier(feature);
    if (std::find(std::begin(kBlockedFeatures), std::end(kBlockedFeatures), id) !=
        std::end(kBlockedFeatures)) {
      webkit_settings_set_feature_enabled(settings, feature, FALSE);
    }
  }
  webkit_feature_list_unref(features);

  view_ = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context_,
                                       "network-session", session, "settings", settings, nullptr));
  g_object_unref(session);
  g_object_unref(settings);
  g_signal_connect(view_, "decide-policy", G_CALLBACK(onDecidePolicy), this);
  g_signal_connect(view_, "load-changed", G_CALLBACK(onLoadChanged), this);
  g_signal_connect(view_, "load-failed", G_CALLBACK(onLoadFailed), this);
  g_signal_connect(view_, "web-process-terminated", G_CALLBACK(onWebProcessTerminated), this);

  message_ = GTK_LABEL(gtk_label_new(""));
  gtk_label_set_wrap(message_, TRUE);
  gtk_label_set_justify(message_, GTK_JUSTIFY_CENTER);
  gtk_widget_set_margin_start(GTK_WIDGET(message_), 24);
  gtk_widget_set_margin_end(GTK_WIDGET(message_), 24);

  stack_ = GTK_STACK(gtk_stack_new());
  gtk_stack_add_named(stack_, GTK_WIDGET(view_), "page");
  gtk_stack_add_named(stack_, GTK_WIDGET(message_), "message");
  gtk_window_set_child(window_, GTK_WIDGET(stack_));

  GtkEventController* keys = gtk_event_controller_key_new();
  // Captured before the web view sees them: arrows step instead of scrolling.
  gtk_event_controller_set_propagation_phase(keys, GTK_PHASE_CAPTURE);
  g_signal_connect(keys, "key-pressed", G_CALLBACK(onKey), this);
  gtk_widget_add_controller(GTK_WIDGET(window_), keys);
  g_signal_connect(window_, "close-request", G_CALLBACK(onCloseRequest), this);
  g_signal_connect(window_, "destroy", G_CALLBACK(onDestroy), this);
}

void ViewerWindow::open(const std::filesystem::path& file, std::unique_ptr<QLPreviewReply> reply) {
  current_ = std::filesystem::absolute(file).lexically_normal();
  if (reply) {
    const CGSize size = reply->contentSize();
    gtk_window_set_default_size(window_, static_cast<int>(size.width),
                                static_cast<int>(size.height));
    if (settings_.snapshot) {
      gtk_widget_set_size_request(GTK_WIDGET(stack_), static_cast<int>(size.width),
                                  static_cast<int>(size.height));
      gtk_window_set_resizable(window_, FALSE);
    }
  }

  if (reply || !renders_.current(current_)) startRender(current_, std::move(reply));
  if (!settings_.snapshot) {
    watch();
    renderAhead();
  }
  if (renders_.find(current_)->done) {
    page_ = Page::rendering;
    present();
  } else {
    shown_.reset();
    loadPage();
    page_ = Page::ahead;
  }
  // Last: the web process starts while the window is being realized.
  if (!gtk_widget_get_visible(GTK_WIDGET(window_))) gtk_window_present(window_);
}

void ViewerWindow::loadPage() {
  dropPendingPage();
  pageUri_ = std::string(kPageScheme) + "://preview/" + std::to_string(++pageSerial_);
  webkit_web_view_load_uri(view_, pageUri_.c_str());
}

void ViewerWindow::dropPendingPage() {
  if (!pendingPage_) return;
  finishNotFound(pendingPage_);
  g_object_unref(pendingPage_);
  pendingPage_ = nullptr;
}

void ViewerWindow::open(const std::filesystem::path& file) { open(file, nullptr); }

bool ViewerWindow::step(bool forward) {
  const auto next = stepFrom(stepList(), current_, forward);
  if (!next) {
    gtk_widget_error_bell(GTK_WIDGET(window_));
    return false;
  }
  open(*next);
  return true;
}

void ViewerWindow::rerender() {
  if (destroyed_) return;
  // A load started ahead keeps waiting for the new render instead.
  if (page_ == Page::shown) {
    page_ = Page::rerendering;
  } else if (page_ == Page::message) {
    page_ = Page::rendering;
  }
  startRender(current_, nullptr);
  if (renders_.find(current_)->done) present();
}

void ViewerWindow::run(WindowCommand command) {
  switch (command) {
    case WindowCommand::previous:
    case WindowCommand::next:
      step(command == WindowCommand::next);
      break;
    case WindowCommand::rerender:
      rerender();
      break;
    case WindowCommand::close:
      close();
      break;
    case WindowCommand::zoomIn:
    case WindowCommand::zoomOut:
    case WindowCommand::zoomReset:
      zoom_ = zoomAfter(command, zoom_);
      webkit_web_view_set_zoom_level(view_, zoom_);
      break;
    case WindowCommand::none:
      break;
  }
}

void ViewerWindow::close() {
  if (destroyed_) return;
  stop();
  // The last reference to the window may go with its destruction, and this
  // object with it: held until `onClosed` has run.
  gpointer window = g_object_ref(window_);
  gtk_window_destroy(window_);
  if (onClosed) onClosed();
  g_object_unref(window);
}

// The window may be disposed late: everything that could still call back
// stops here.
void ViewerWindow::stop() {
  destroyed_ = true;
  dropPendingPage();
  dropRender();
  queued_.clear();
  if (changeTimer_) g_source_remove(changeTimer_);
  changeTimer_ = 0;
  if (monitor_) {
    g_file_monitor_cancel(monitor_);
    g_object_unref(monitor_);
    monitor_ = nullptr;
  }
}

std::vector<std::filesystem::path> ViewerWindow::stepList() const {
  if (settings_.files.size() > 1) return settings_.files;
  return previewableFiles(current_.parent_path());
}

void ViewerWindow::startRender(const std::filesystem::path& file,
                               std::unique_ptr<QLPreviewReply> reply) {
  // The reply, decided from the name alone, says whether the file is taken
  // and how large the window is; the worker reads and renders it.
  if (!reply) reply = requestPreview(file);
  if (!reply) return renders_.refuse(file);
  const std::uint64_t generation = renders_.start(file);
  std::erase_if(queued_, [&](const Job& job) { return job.file == file; });
  queued_.push_back({file, generation});
  sendRender();
}

// One render at a time, so the window's processes together stay within one
// render's budget; the shown file goes first.
void ViewerWindow::sendRender() {
  while (!destroyed_ && !rendering_ && !queued_.empty()) {
    auto next = std::find_if(queued_.begin(), queued_.end(),
                             [&](const Job& job) { return job.file == current_; });
    if (next == queued_.end()) next = queued_.begin();
    const Job job = *next;
    queued_.erase(next);
    // Forgotten or replaced since: nothing would keep its result.
    const Render* render = renders_.find(job.file);
    if (!render || render->generation != job.generation) continue;
    rendering_ = job;
    ++gRendersInFlight;
    worker_.start(job.file);
    // The result comes from the main loop even when it is known at once
    // (the worker could not start), as callers of startRender expect.
    if (worker_.fd() < 0) {
      workerWatch_ =
          g_idle_add([](gpointer self) { return onWorkerReadable(-1, G_IO_IN, self); }, this);
    } else {
      workerWatch_ =
          g_unix_fd_add(worker_.fd(), static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
                        onWorkerReadable, this);
    }
  }
}

void ViewerWindow::renderDone(WorkerResult result) {
  --gRendersInFlight;
  const Job job = *rendering_;
  rendering_.reset();
  const bool kept = result
                        ? renders_.finish(job.file, job.generation, std::move(*result))
                        : renders_.end(job.file, job.generation, std::move(result.error().cause));
  if (kept && job.file == current_ && waiting()) present();
  sendRender();
}

// Ends the render under way, with its worker.
void ViewerWindow::dropRender() {
  if (workerWatch_) g_source_remove(workerWatch_);
  workerWatch_ = 0;
  if (rendering_) --gRendersInFlight;
  rendering_.reset();
  worker_.stop();
}

void ViewerWindow::present() {
  const Render& render = *renders_.find(current_);
  const std::filesystem::path name = current_.filename();
  if (render.refused || render.error || !render.ended.empty()) {
    page_ = Page::message;
    dropPendingPage();
    shown_.reset();
    pageUri_.clear();
    gtk_window_set_title(window_, name.c_str());
    showMessage(render.refused ? refusedMessage(name)
                : render.error ? unreadableMessage(name, *render.error)
                               : name.string() + ": " + render.ended);
    settle({current_, render.refused, render.error, render.ended});
    return;
  }
  shown_ = render.preview;
  gtk_window_set_title(window_, shown_->title.c_str());
  switch (page_) {
    case Page::rerendering:
      webkit_web_view_reload(view_);
      break;
    case Page::ahead:
      // The load is under way; answer its request if it has come already.
      if (pendingPage_) {
        finishWith(pendingPage_, shown_->page, "text/html; charset=utf-8", shown_, true);
        g_object_unref(pendingPage_);
        pendingPage_ = nullptr;
      }
      break;
    default:
      loadPage();
      break;
  }
  page_ = Page::shown;
  gtk_stack_set_visible_child(stack_, GTK_WIDGET(view_));
}

void ViewerWindow::failPage(const std::string& cause) {
  page_ = Page::message;
  dropPendingPage();
  shown_.reset();
  pageUri_.clear();
  showMessage(current_.filename().string() + ": " + cause + "\n\nCtrl+R tries again.");
  settle({current_, false, std::nullopt, cause});
}

void ViewerWindow::showMessage(const std::string& text) {
  gtk_label_set_text(message_, text.c_str());
  gtk_stack_set_visible_child(stack_, GTK_WIDGET(message_));
}

void ViewerWindow::renderAhead() {
  const std::vector<std::filesystem::path> needed = renders_.keepAround(stepList(), current_);
  // A render of a file stepped away from would only hold up the ones wanted.
  if (rendering_ && !renders_.find(rendering_->file)) dropRender();
  for (const auto& file : needed) startRender(file, nullptr);
  sendRender();
}

void ViewerWindow::watch() {
  if (monitor_) {
    g_file_monitor_cancel(monitor_);
    g_object_unref(monitor_);
    monitor_ = nullptr;
  }
  GFile* file = g_file_new_for_path(current_.c_str());
  monitor_ = g_file_monitor_file(file, G_FILE_MONITOR_WATCH_MOVES, nullptr, nullptr);
  g_object_unref(file);
  if (!monitor_) return;
  g_file_monitor_set_rate_limit(monitor_, static_cast<int>(kChangeSettleMs));
  g_signal_connect(monitor_, "changed", G_CALLBACK(onFileChanged), this);
}

void ViewerWindow::settle(const ViewerOutcome& outcome) {
  if (onSettled) onSettled(outcome);
}

gboolean ViewerWindow::onCloseRequest(GtkWindow*, gpointer data) {
  static_cast<ViewerWindow*>(data)->close();
  return TRUE;
}

void ViewerWindow::onDestroy(GtkWidget*, gpointer data) {
  auto* self = static_cast<ViewerWindow*>(data);
  if (self->destroyed_) return;
  self->stop();
  if (self->onClosed) self->onClosed();
}

gboolean ViewerWindow::onKey(GtkEventControllerKey*, guint keyval, guint, GdkModifierType state,
                             gpointer data) {
  const WindowCommand command = commandFor(keyval, state);
  if (command == WindowCommand::none) return FALSE;
  static_cast<ViewerWindow*>(data)->run(command);
  return TRUE;
}

void ViewerWindow::onPageRequest(WebKitURISchemeRequest* request, gpointer data) {
  auto* self = static_cast<ViewerWindow*>(data);
  const std::string uri = withoutFragment(webkit_uri_scheme_request_get_uri(request));
  if (uri != self->pageUri_) return finishNotFound(request);
  if (!self->shown_) {
    if (self->page_ != Page::ahead) return finishNotFound(request);
    self->dropPendingPage();
    self->pendingPage_ = WEBKIT_URI_SCHEME_REQUEST(g_object_ref(request));
    return;
  }
  finishWith(request, self->shown_->page, "text/html; charset=utf-8", self->shown_, true);
}

void ViewerWindow::onAttachmentRequest(WebKitURISchemeRequest* request, gpointer data) {
  auto* self = static_cast<ViewerWindow*>(data);
  if (!self->shown_) return finishNotFound(request);
  const auto it = self->shown_->attachments.find(webkit_uri_scheme_request_get_path(request));
  if (it == self->shown_->attachments.end()) return finishNotFound(request);
  const std::string& type = it->second.contentType.mimeType;
  finishWith(request, it->second.data, type.empty() ? "application/octet-stream" : type.c_str(),
             self->shown_, false);
}

gboolean ViewerWindow::onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                      WebKitPolicyDecisionType type, gpointer data) {
  if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION &&
      type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
    return FALSE;
  }
  auto* self = static_cast<ViewerWindow*>(data);
  WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
      WEBKIT_NAVIGATION_POLICY_DECISION(decision));
  const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
  const bool clicked =
      webkit_navigation_action_get_navigation_type(action) == WEBKIT_NAVIGATION_TYPE_LINK_CLICKED;
  switch (linkAction(uri ? uri : "", self->pageUri_, clicked)) {
    case LinkAction::load:
      if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) {
        webkit_policy_decision_use(decision);
        return TRUE;
      }
      break;
    case LinkAction::openOutside:
      g_app_info_launch_default_for_uri_async(uri, nullptr, nullptr, nullptr, nullptr);
      break;
    case LinkAction::refuse:
      break;
  }
  webkit_policy_decision_ignore(decision);
  return TRUE;
}

void ViewerWindow::onLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer data) {
  auto* self = static_cast<ViewerWindow*>(data);
  if (event != WEBKIT_LOAD_FINISHED || self->destroyed_ || self->page_ != Page::shown) return;
  const char* uri = webkit_web_view_get_uri(view);
  if (!uri || withoutFragment(uri) != self->pageUri_) return;
  self->settle({self->current_, false, std::nullopt, {}});
}

gboolean ViewerWindow::onLoadFailed(WebKitWebView*, WebKitLoadEvent, char* uri, GError* error,
                                    gpointer data) {
  auto* self = static_cast<ViewerWindow*>(data);
  // A load replaced by the next one (a quick step) is not a failure.
  if (g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED) ||
      g_error_matches(error, WEBKIT_POLICY_ERROR,
                      WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE) ||
      self->destroyed_ || !uri || withoutFragment(uri) != self->pageUri_) {
    return TRUE;
  }
  self->failPage(error->message);
  return TRUE;
}

void ViewerWindow::onWebProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason reason,
                                          gpointer data) {
  auto* self = static_cast<ViewerWindow*>(data);
  // Without a page on show the next load starts a new web process by itself.
  if (self->destroyed_ || self->page_ == Page::message || self->page_ == Page::rendering) return;
  self->failPage(reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT
                     ? "the page took more memory than it may"
                     : "the web process showing the page ended");
}

gboolean ViewerWindow::onWorkerReadable(gint, GIOCondition, gpointer data) {
  auto* self = static_cast<ViewerWindow*>(data);
  auto result = self->worker_.receive();
  if (!result) return G_SOURCE_CONTINUE;
  self->workerWatch_ = 0;
  self->renderDone(std::move(*result));
  return G_SOURCE_REMOVE;
}

void ViewerWindow::onFileChanged(GFileMonitor*, GFile*, GFile*, GFileMonitorEvent event,
                                 gpointer data) {
  if (event == G_FILE_MONITOR_EVENT_ATTRIBUTE_CHANGED ||
      event == G_FILE_MONITOR_EVENT_PRE_UNMOUNT || event == G_FILE_MONITOR_EVENT_UNMOUNTED) {
    return;
  }
  auto* self = static_cast<ViewerWindow*>(data);
  // Editors write in bursts; re-render once the file has been quiet a moment.
  if (self->changeTimer_) g_source_remove(self->changeTimer_);
  self->changeTimer_ = g_timeout_add(
      kChangeSettleMs,
      [](gpointer p) {
        auto* window = static_cast<ViewerWindow*>(p);
        window->changeTimer_ = 0;
        window->rerender();
        return G_SOURCE_REMOVE;
      },
      self);
}

}  // namespace quarn
