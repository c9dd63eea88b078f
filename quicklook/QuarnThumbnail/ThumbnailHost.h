// The freedesktop thumbnailer host: plays the thumbnail service for one file.
// Asks ThumbnailProvider, makes an ARGB32 bitmap of the reply's size current,
// runs the drawing routine and, only when it drew, writes the PNG: a new file
// atomically (temporary name in the output's folder, then rename), a file the
// caller already created in place, a device or FIFO through; links are followed.
#ifndef QUARN_QUICKLOOK_QUARNTHUMBNAIL_THUMBNAILHOST_H_
#define QUARN_QUICKLOOK_QUARNTHUMBNAIL_THUMBNAILHOST_H_

#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>

#include "base/Expected.h"

namespace quarn::ThumbnailHost {

// Exit statuses of quarn-thumbnail.
inline constexpr int kWritten = 0;      // a PNG was written
inline constexpr int kNoThumbnail = 1;  // nothing to draw, unreadable, or the write failed
inline constexpr int kRefused = 2;      // not a canvas file by its extension
inline constexpr int kUsage = 64;       // bad arguments

inline constexpr int kMaxSide = 4096;

struct PixelSize {
  int width = 0;
  int height = 0;
  bool operator==(const PixelSize&) const = default;
};

// "N" (a square) or "WIDTHxHEIGHT", decimal digits only, each side 1 to
// kMaxSide. Fails with a one-line message naming the accepted forms.
Expected<PixelSize, std::string> parseSize(std::string_view text);

// A plain path, or a "file://" URI (host empty or "localhost") whose path is
// percent-decoded; query and fragment are dropped. Fails with a one-line
// message for other schemes or hosts, bad escapes, an encoded NUL or an
// empty path.
Expected<std::filesystem::path, std::string> inputPath(std::string_view argument);

// Makes fonts findable when fontconfig's configuration is out of reach (a
// sandbox that shows only /usr): then fonts under /usr/share/fonts and
// /usr/local/share/fonts are used with built-in family aliases. Does nothing
// when the system configuration or FONTCONFIG_FILE/FONTCONFIG_PATH is there.
// Call before the first text is drawn; not thread-safe.
void ensureFonts();

// Writes the thumbnail of `input` at most `size` to `output` and returns the
// exit status; on every status but kWritten no file is left at `output` (a
// file already there is kept unless the write itself failed) and one line
// naming the file goes to `errors`.
int run(const std::filesystem::path& input, const std::filesystem::path& output, PixelSize size,
        std::ostream& errors);

// The --version text: the program's version and those of cairo, pango and zlib.
std::string versionText(std::string_view programVersion);

}  // namespace quarn::ThumbnailHost

#endif  // QUARN_QUICKLOOK_QUARNTHUMBNAIL_THUMBNAILHOST_H_
