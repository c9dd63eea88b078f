#include "quicklook/QuarnThumbnail/ThumbnailHost.h"

#include <fontconfig/fontconfig.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <system_error>
#include <vector>

#include <cairo.h>
#include <pango/pango.h>
#include <zlib.h>

#include "base/FileUri.h"
#include "base/VersionText.h"
#include "platform/FileRead.h"
#include "platform/FileWrite.h"
#include "platform/GraphicsContext.h"
#include "platform/PngWriter.h"
#include "platform/QuickLookThumbnail.h"
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

// One rule for every run without a thumbnail: services take a PNG at the
// output as the thumbnail, so an earlier one (stale now) must not survive;
// any other file there, such as the empty one a service makes, is not
// mistaken for one and may be somebody's, so it stays.
void removeStaleThumbnail(const std::filesystem::path& output) {
  std::error_code error;
  const std::filesystem::path target = std::filesystem::canonical(output, error);
  if (error || !std::filesystem::is_regular_file(target, error)) return;
  char signature[8] = {};
  {
    std::ifstream file(target, std::ios::binary);
    file.read(signature, sizeof signature);
    if (file.gcount() != sizeof signature) return;
  }
  if (std::string_view(signature, sizeof signature) == "\x89PNG\r\n\x1a\n") {
    ::unlink(target.c_str());
  }
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

namespace {

ExitStatus drawAndWrite(const std::filesystem::path& input, const std::filesystem::path& output,
                        PixelSize size, std::ostream& errors) {
  // "examples/" has no extension to judge; it is a folder, and reading it says so.
  if (FileUri::namesFolder(input)) {
    errors << "quarn-thumbnail: " << input.string() << ": " << whyNoReply(input) << "\n";
    return kFailed;
  }
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
    return kFailed;
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
    return kFailed;
  }
  const std::string png = PngWriter::encode(surface.get());
  if (png.empty()) {
    errors << "quarn-thumbnail: " << input.string() << ": could not encode the picture\n";
    return kFailed;
  }
  // Thumbnail services (tumbler) create the output themselves and read it back
  // through that same file, so an existing file is rewritten, not replaced.
  OutputFiles outputs(input);
  std::error_code failure = outputs.stage(output, png, ExistingFile::rewriteInPlace);
  if (!failure) failure = outputs.commit();
  if (failure) {
    errors << "quarn-thumbnail: " << writeFailure(output.string(), failure) << "\n";
    return kFailed;
  }
  return kDone;
}

}  // namespace

ExitStatus run(const std::filesystem::path& input, const std::filesystem::path& output,
               PixelSize size, std::ostream& errors) {
  // Whatever happens, the input is never removed, even when named as the output.
  if (isSameFile(output, input)) {
    errors << "quarn-thumbnail: " << writeFailure(output.string(), WriteError::isTheInput) << "\n";
    return kFailed;
  }
  const ExitStatus status = drawAndWrite(input, output, size, errors);
  if (status != kDone) removeStaleThumbnail(output);
  return status;
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
  return quarn::versionText("quarn-thumbnail", programVersion,
                            {{"cairo", cairo_version_string()},
                             {"pango", pango_version_string()},
                             {"zlib", zlibVersion()}});
}

}  // namespace quarn::ThumbnailHost
