#include "quicklook/QuarnThumbnail/ThumbnailHost.h"

#include <fontconfig/fontconfig.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <memory>
#include <optional>
#include <system_error>
#include <vector>

#include <cairo.h>
#include <pango/pango.h>
#include <zlib.h>

#include "platform/FileRead.h"
#include "platform/FileWrite.h"
#include "platform/GraphicsContext.h"
#include "platform/QuickLookThumbnail.h"
#include "quicklook/QuarnThumbnail/PngWriter.h"
#include "quicklook/QuarnThumbnail/ThumbnailProvider.h"
#include "quicklook/Shared/CanvasDocument.h"

namespace quarn::ThumbnailHost {

namespace {

std::optional<int> parseSide(std::string_view digits) {
  if (digits.empty() || digits.size() > 4) return std::nullopt;
  int value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  if (value < 1 || value > kMaxSide) return std::nullopt;
  return value;
}

struct CairoDeleter {
  void operator()(cairo_t* cairo) const { cairo_destroy(cairo); }
};

// Used only when fontconfig's own configuration cannot be read.
constexpr const char* kFallbackFontConfig = R"(<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "urn:fontconfig:fonts.dtd">
<fontconfig>
  <dir>/usr/share/fonts</dir>
  <dir>/usr/local/share/fonts</dir>
  <cachedir>/var/cache/fontconfig</cachedir>
  <cachedir prefix="xdg">fontconfig</cachedir>
  <alias><family>system-ui</family><prefer><family>sans-serif</family></prefer></alias>
  <alias>
    <family>sans-serif</family>
    <prefer>
      <family>Cantarell</family><family>Noto Sans</family><family>DejaVu Sans</family>
      <family>Liberation Sans</family><family>FreeSans</family>
    </prefer>
  </alias>
</fontconfig>
)";

// The provider drops its reasons, as a service wants; a person at a terminal
// wants one. Asked only when there is no thumbnail, so a canvas that draws is
// read and decoded once.
std::string whyNoReply(const std::filesystem::path& input) {
  auto bytes = readFile(input);
  if (!bytes) {
    return bytes.error().reason ? bytes.error().reason.message() : bytes.error().description();
  }
  if (!CanvasDocument::decode(*bytes)) return "not a readable canvas";
  return "nothing to draw";
}

}  // namespace

Expected<PixelSize, std::string> parseSize(std::string_view text) {
  const auto x = text.find_first_of("xX");
  std::optional<int> width;
  std::optional<int> height;
  const bool keepsShape = x == std::string_view::npos;
  if (keepsShape) {
    width = height = parseSide(text);
  } else {
    width = parseSide(text.substr(0, x));
    height = parseSide(text.substr(x + 1));
  }
  if (!width || !height) {
    return Unexpected("SIZE must be N or WIDTHxHEIGHT with each side from 1 to " +
                      std::to_string(kMaxSide) + ", not \"" + std::string(text) + "\"");
  }
  return PixelSize{*width, *height, keepsShape};
}

void ensureFonts() {
  if (std::getenv("FONTCONFIG_FILE") != nullptr || std::getenv("FONTCONFIG_PATH") != nullptr) {
    return;
  }
  if (access("/etc/fonts/fonts.conf", R_OK) == 0) return;
  FcConfig* config = FcConfigCreate();
  if (config == nullptr) return;
  if (FcConfigParseAndLoadFromMemory(config, reinterpret_cast<const FcChar8*>(kFallbackFontConfig),
                                     FcFalse) &&
      FcConfigBuildFonts(config)) {
    FcConfigSetCurrent(config);
  }
  FcConfigDestroy(config);  // the current configuration holds its own reference
}

ExitStatus run(const std::filesystem::path& input, const std::filesystem::path& output,
               PixelSize size, std::ostream& errors) {
  std::unique_ptr<QLThumbnailReply> reply;
  std::optional<FileError> error;
  const CGSize box{static_cast<double>(size.width), static_cast<double>(size.height)};
  ThumbnailProvider provider;
  provider.provideThumbnail(
      QLFileThumbnailRequest{input, box, size.keepsShape ? CGSize{1, 1} : box},
      [&](std::unique_ptr<QLThumbnailReply> r, std::optional<FileError> e) {
        reply = std::move(r);
        error = std::move(e);
      });
  if (error && error->code == FileError::Code::fileReadUnsupportedScheme) {
    errors << "quarn-thumbnail: " << input.string() << ": not a canvas file (.kcv or .qcv)\n";
    return kRefused;
  }
  if (!reply) {
    errors << "quarn-thumbnail: " << input.string() << ": " << whyNoReply(input) << "\n";
    return kNoThumbnail;
  }

  // The service's side: a bitmap of the reply's size, made current for the routine.
  const CGSize contextSize = reply->contextSize();
  std::unique_ptr<cairo_surface_t, SurfaceDeleter> surface(
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(contextSize.width),
                                 static_cast<int>(contextSize.height)));
  std::unique_ptr<cairo_t, CairoDeleter> cairo(cairo_create(surface.get()));
  ensureFonts();
  bool drawn = false;
  {
    ScopedCurrentContext current(cairo.get(), contextSize);
    drawn = reply->draw();
  }
  if (!drawn) {
    errors << "quarn-thumbnail: " << input.string() << ": nothing to draw\n";
    return kNoThumbnail;
  }
  const std::string png = PngWriter::encode(surface.get());
  if (png.empty()) {
    errors << "quarn-thumbnail: " << input.string() << ": could not encode the picture\n";
    return kNoThumbnail;
  }
  // Thumbnail services (tumbler) create the output themselves and read it back
  // through that same file, so an existing file is rewritten, not replaced.
  if (const std::error_code failure = writeFile(output, png, ExistingFile::rewriteInPlace)) {
    errors << "quarn-thumbnail: cannot write " << output.string() << ": " << failure.message()
           << "\n";
    return kNoThumbnail;
  }
  return kWritten;
}

Surface draw(const std::filesystem::path& input, PixelSize size) {
  std::unique_ptr<QLThumbnailReply> reply;
  const CGSize box{static_cast<double>(size.width), static_cast<double>(size.height)};
  ThumbnailProvider provider;
  provider.provideThumbnail(
      QLFileThumbnailRequest{input, box, size.keepsShape ? CGSize{1, 1} : box},
      [&](std::unique_ptr<QLThumbnailReply> r, std::optional<FileError>) { reply = std::move(r); });
  if (!reply) return nullptr;
  const CGSize contextSize = reply->contextSize();
  Surface surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32,
                                             static_cast<int>(contextSize.width),
                                             static_cast<int>(contextSize.height)));
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
  std::unique_ptr<cairo_t, CairoDeleter> cairo(cairo_create(surface.get()));
  ensureFonts();
  bool drawn = false;
  {
    ScopedCurrentContext current(cairo.get(), contextSize);
    drawn = reply->draw();
  }
  if (!drawn) return nullptr;
  cairo_surface_flush(surface.get());
  return surface;
}

std::string versionText(std::string_view programVersion) {
  return "quarn-thumbnail " + std::string(programVersion) + "\ncairo " + cairo_version_string() +
         "\npango " + pango_version_string() + "\nzlib " + zlibVersion();
}

}  // namespace quarn::ThumbnailHost
