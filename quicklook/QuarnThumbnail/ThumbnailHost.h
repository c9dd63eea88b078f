// The freedesktop thumbnailer host: plays the thumbnail service for one file.
// Asks ThumbnailProvider, makes an ARGB32 bitmap of the reply's size current,
// runs the drawing routine and, only when it drew, writes the PNG: a new file
// atomically (temporary name in the output's folder, then rename), a file the
// caller already created in place under an exclusive lock, a device or FIFO
// through; links are followed.
#ifndef QUARN_QUICKLOOK_QUARNTHUMBNAIL_THUMBNAILHOST_H_
#define QUARN_QUICKLOOK_QUARNTHUMBNAIL_THUMBNAILHOST_H_

#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

#include <cairo.h>

#include "base/ExitStatus.h"
#include "base/Expected.h"

namespace quarn::ThumbnailHost {

inline constexpr int kMaxSide = 4096;

struct PixelSize {
  int width = 0;
  int height = 0;
  // "N": width and height are the largest side; the picture takes the
  // canvas's shape within them. Else exactly width by height.
  bool keepsShape = false;
  bool operator==(const PixelSize&) const = default;
};

// "N" (the larger side; the other follows the canvas) or "WIDTHxHEIGHT"
// (exactly), decimal digits only, each side 1 to kMaxSide. Fails with a
// one-line message naming the accepted forms.
Expected<PixelSize, std::string> parseSize(std::string_view text);

// Makes fonts findable when fontconfig's configuration is out of reach (a
// sandbox that shows only /usr): then fonts under /usr/share/fonts and
// /usr/local/share/fonts are used with built-in family aliases. Does nothing
// when the system configuration or FONTCONFIG_FILE/FONTCONFIG_PATH is there.
// Call before the first text is drawn; not thread-safe.
void ensureFonts();

// Writes the thumbnail of `input` in `size` to `output` and returns the exit
// status: kDone, kFailed (no thumbnail: unreadable, nothing to draw, the
// write failed, or `output` is the input) or kRefused. For "N" the host asks
// the provider for at most N by N and at least 1 by 1, so the PNG has the
// padded content's shape with N as its larger side; for "WxH" it asks for
// exactly W by H. On every status but kDone one line naming the file and the
// cause goes to `errors`, and no PNG is left at `output`: none is made, and
// one already there (an earlier thumbnail, stale now) is removed; a file
// there that is not a PNG is kept, as is the input.
ExitStatus run(const std::filesystem::path& input, const std::filesystem::path& output,
               PixelSize size, std::ostream& errors);

struct SurfaceDeleter {
  void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
using Surface = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;

// The picture run() would encode for `input` in `size`, for hosts that hand
// pixels on instead of writing a file: an ARGB32 image surface of the same
// size with the same pixels. Null where run() writes nothing (not a canvas
// file, unreadable, undecodable, nothing to draw). Calls ensureFonts() first.
Surface draw(const std::filesystem::path& input, PixelSize size);

// The --version text: the program's version and those of cairo, pango and zlib.
// The version comes from the program, which the build stamps.
std::string versionText(std::string_view programVersion);

}  // namespace quarn::ThumbnailHost

#endif  // QUARN_QUICKLOOK_QUARNTHUMBNAIL_THUMBNAILHOST_H_
