#include "viewer/ViewerHost.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <system_error>

#include <cairo.h>
#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include "base/ExitStatus.h"
#include "base/VersionText.h"
#include "platform/FileWrite.h"
#include "platform/PngWriter.h"
#include "quicklook/QuarnPreview/PreviewService.h"
#include "viewer/ViewerWindow.h"

namespace quarn {
namespace {

// libglvnd's list of EGL driver descriptions; an empty list loads none.
constexpr const char* kEglDrivers = "__EGL_VENDOR_LIBRARY_FILENAMES";

void fail(const std::string& message) { std::fprintf(stderr, "quarn-view: %s\n", message.c_str()); }

struct Run {
  GMainLoop* loop = nullptr;
  int status = kDone;
  bool finished = false;  // a snapshot run's status is decided
  bool firstSettled = false;
  std::string snapshot;
  std::filesystem::path firstFile;
  std::string firstName;  // the first file as the command line names it

  void finish(int code) {
    if (finished) return;
    finished = true;
    status = code;
    g_main_loop_quit(loop);
  }
};

// The one line naming the first file and why it shows no page.
std::string failureMessage(const std::string& name, const ViewerOutcome& outcome) {
  if (outcome.refused) return refusedMessage(name);
  if (outcome.error) return unreadableMessage(name, *outcome.error);
  return name + ": " + outcome.pageFailure;
}

// GTK's own PNG writer compresses hard; the thumbnailer's is several times
// quicker on a page-sized picture, which matters for a snapshot's run time.
std::string encodePng(GdkTexture* texture) {
  const int width = gdk_texture_get_width(texture), height = gdk_texture_get_height(texture);
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  cairo_surface_flush(surface);
  // Both are premultiplied native-endian ARGB, so the pixels copy as they are.
  gdk_texture_download(texture, cairo_image_surface_get_data(surface),
                       static_cast<gsize>(cairo_image_surface_get_stride(surface)));
  cairo_surface_mark_dirty(surface);
  std::string png = PngWriter::encode(surface);
  cairo_surface_destroy(surface);
  return png;
}

void writeSnapshot(ViewerWindow& window, Run& run) {
  webkit_web_view_get_snapshot(
      window.webView(), WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE, nullptr,
      [](GObject* view, GAsyncResult* result, gpointer data) {
        auto* state = static_cast<Run*>(data);
        GError* error = nullptr;
        GdkTexture* texture =
            webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(view), result, &error);
        // The run failed meanwhile (its web process ended): nothing is written.
        if (state->finished) {
          if (texture) g_object_unref(texture);
          if (error) g_error_free(error);
          return;
        }
        if (!texture) {
          fail(state->firstName + ": cannot take the snapshot: " + error->message);
          g_error_free(error);
          return state->finish(kFailed);
        }
        std::string png = encodePng(texture);
        g_object_unref(texture);
        OutputFiles outputs(state->firstFile);
        std::error_code written = png.empty() ? std::make_error_code(std::errc::not_enough_memory)
                                              : outputs.stage(state->snapshot, std::move(png));
        if (!written) written = outputs.commit();
        if (written) {
          fail(writeFailure(state->snapshot, written));
          return state->finish(kFailed);
        }
        state->finish(kDone);
      },
      &run);
}

// WebKit says once that it draws without hardware acceleration when GTK has
// no GL, which is what a snapshot run asks for: that line is not news.
GLogWriterOutput withoutAccelerationNotice(GLogLevelFlags level, const GLogField* fields,
                                           gsize count, gpointer) {
  for (gsize i = 0; i < count; ++i) {
    if (g_str_equal(fields[i].key, "MESSAGE") && fields[i].length < 0 &&
        g_str_has_prefix(static_cast<const char*>(fields[i].value),
                         "Disabled hardware acceleration")) {
      return G_LOG_WRITER_HANDLED;
    }
  }
  return g_log_writer_default(level, fields, count, nullptr);
}

}  // namespace

int runViewer(const ViewerOptions& options) {
  Run run;
  run.snapshot = options.snapshot;
  const bool snapshot = !options.snapshot.empty();

  // The type test needs no display: when no file is accepted, the run fails
  // before any window. Refused files stay in the list: a step to one shows
  // why it is not previewed.
  const std::vector<std::filesystem::path> files(
      options.files.begin(), snapshot ? options.files.begin() + 1 : options.files.end());
  std::unique_ptr<QLPreviewReply> firstReply;
  std::filesystem::path firstFile;
  for (const auto& file : files) {
    if ((firstReply = requestPreview(file))) {
      firstFile = file;
      break;
    }
  }
  if (!firstReply) {
    for (const auto& file : files) fail(refusedMessage(file));
    // A snapshot cannot be had; a window still shows why, where the user
    // looks (opened from a file manager, standard error goes nowhere seen).
    if (snapshot) return kRefused;
    run.status = kRefused;
    firstFile = files.front();
  }
  run.firstFile = firstFile;
  run.firstName = firstFile.string();
  // Refused before any window, as quarn-preview refuses such an output.
  if (snapshot && isSameFile(options.snapshot, firstFile)) {
    fail(writeFailure(options.snapshot, WriteError::isTheInput));
    return kFailed;
  }

  // Snapshots are pictures at scale 1 whatever the screen's scale. Nobody
  // looks at the window then, and the picture comes from the web process, so
  // this process sets up no GL at all: neither GTK nor the web view's side of
  // WebKit, each of which would otherwise load a GL driver (without a GPU, a
  // software rasterizer) before the web process can start. That is a quarter
  // of a typical snapshot's run; the pixels are the same.
  bool withoutGlDrivers = false;
  if (snapshot) {
    g_setenv("GDK_SCALE", "1", TRUE);
    g_setenv("GSK_RENDERER", "cairo", FALSE);
    const char* flags = g_getenv("GDK_DEBUG");
    g_setenv("GDK_DEBUG",
             flags && *flags ? (std::string(flags) + ",gl-disable").c_str() : "gl-disable", TRUE);
    // GLib takes one writer per process, and a run may not be the first.
    static const bool quietened =
        (g_log_set_writer_func(withoutAccelerationNotice, nullptr, nullptr), true);
    (void)quietened;
    // An empty list of EGL drivers, set while this process is one thread and
    // taken away again before the web process (which needs its driver) starts.
    withoutGlDrivers = !g_getenv(kEglDrivers);
    if (withoutGlDrivers) g_setenv(kEglDrivers, "", TRUE);
  }
  g_set_prgname("quarn-view");
  if (!gtk_init_check()) {
    // A refusal already said why on standard error; its status stands.
    if (!firstReply) return kRefused;
    fail("cannot open a display");
    return kFailed;
  }
  run.loop = g_main_loop_new(nullptr, FALSE);

  const bool several = files.size() > 1;
  ViewerWindow& window = ViewerWindow::create({files, snapshot});
  // The web view has looked for EGL by now; the web process, which the first
  // load starts, finds its driver as usual.
  if (withoutGlDrivers) g_unsetenv(kEglDrivers);
  window.onSettled = [&](const ViewerOutcome& outcome) {
    const bool first = !run.firstSettled;
    run.firstSettled = true;
    if (snapshot) {
      // Any way out but a written picture is a failure with its message.
      if (run.finished) return;
      if (outcome.loaded()) return writeSnapshot(window, run);
      fail(failureMessage(run.firstName, outcome));
      return run.finish(outcome.refused ? kRefused : kFailed);
    }
    // Nothing to show for the only file: say so the way quarn-preview does,
    // and leave the message in the window until the user closes it.
    if (first && !several && !outcome.loaded() && run.status == kDone) {
      fail(failureMessage(run.firstName, outcome));
      run.status = outcome.refused ? kRefused : kFailed;
    }
  };
  // Held so the window's code outlives its closing until the end of the run.
  g_object_ref(window.window());
  window.onClosed = [&] {
    if (snapshot && !run.finished) {
      fail(run.firstName + ": the window was closed before the snapshot was taken");
      return run.finish(kFailed);
    }
    g_main_loop_quit(run.loop);
  };
  if (firstReply) {
    window.open(firstFile, std::move(firstReply));
  } else {
    window.open(firstFile);
  }
  // After the page's load has started the web process: asking the portal
  // overlaps that process's start. Pages follow a change of scheme live.
  DesktopAppearance appearance(options.colorScheme);
  g_main_loop_run(run.loop);
  // Closing ends the window's render worker with any render under way.
  if (snapshot) window.close();
  g_object_unref(window.window());
  g_main_loop_unref(run.loop);
  return run.status;
}

std::string viewerVersionText() {
  const auto dotted = [](unsigned major, unsigned minor, unsigned micro) {
    return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(micro);
  };
  return versionText(
      "quarn-view", QUARN_VERSION,
      {{"GTK", dotted(gtk_get_major_version(), gtk_get_minor_version(), gtk_get_micro_version())},
       {"WebKitGTK", dotted(webkit_get_major_version(), webkit_get_minor_version(),
                            webkit_get_micro_version())}});
}

}  // namespace quarn
