// The canvas file model shared by the preview and the thumbnail: positioned
// shapes decoded forgivingly from JSON (a bad element is dropped, a file of
// the wrong shape fails as a whole). Immutable values; thread-safe.
#ifndef QUARN_QUICKLOOK_SHARED_CANVASDOCUMENT_H_
#define QUARN_QUICKLOOK_SHARED_CANVASDOCUMENT_H_

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/Expected.h"

namespace quarn {

// Origin x, origin y, width, height.
struct Rect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
  bool operator==(const Rect&) const = default;
};

struct CanvasElement {
  std::string id;
  std::string type;  // open vocabulary; "group" is a non-drawable container
  double x = 0;
  double y = 0;
  double width = 0;   // may be zero or negative
  double height = 0;  // may be zero or negative
  std::optional<std::string> text;

  // The element's box with negative extents flipped.
  Rect box() const;
};

// A canvas that did not decode, told apart from an empty one. It carries no
// reason: every caller drops it and shows or answers "not a readable canvas".
struct CanvasDecodeError {};

struct CanvasDocument {
  std::vector<CanvasElement> elements;  // file order, only those that decoded

  // {"kcv", "qcv"}; built once, thread-safe.
  static const std::set<std::string, std::less<>>& fileExtensions();

  // True when the extension of `file` (text::fileExtension) is one of
  // fileExtensions(): the one test both programs ask. Reads nothing.
  static bool isCanvasFile(const std::filesystem::path& file);

  // Decodes a whole canvas file's bytes. Fails when the bytes are not JSON,
  // the top level is not an object, or "elements" is neither an array nor null.
  // An entry that is not a well-typed element is dropped; the others keep file
  // order. Tolerances: a key given twice counts with its last value; a number
  // beyond the double range drops only the element holding it; an integer
  // beyond 64 bits is read as the nearest double; invalid UTF-8 and lone
  // surrogate escapes inside strings read as U+FFFD. `spare` is how many
  // readable bytes follow `bytes` in memory (a std::string's unused capacity):
  // with 64 or more the parser reads the bytes where they are, else it first
  // copies them into a padded buffer of its own.
  static Expected<CanvasDocument, CanvasDecodeError> decode(std::string_view bytes,
                                                            std::size_t spare = 0);

  // Every element whose type is not exactly "group", in file order; the
  // pointers live as long as this document.
  std::vector<const CanvasElement*> drawableElements() const;
  // The union of the drawable elements' boxes; nothing when there are none.
  std::optional<Rect> contentBounds() const;
};

}  // namespace quarn

#endif  // QUARN_QUICKLOOK_SHARED_CANVASDOCUMENT_H_
