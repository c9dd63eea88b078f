// Uniform type identifiers: the HTML type, and a small registry from file name
// extensions to the image types a page may carry, with their media types.
#ifndef QUARN_PLATFORM_UTTYPE_H_
#define QUARN_PLATFORM_UTTYPE_H_

#include <optional>
#include <string>
#include <string_view>

namespace quarn {

struct UTType {
  std::string identifier;  // e.g. "public.html", "public.png"
  std::string mimeType;    // the media type a host writes out, e.g. "image/png"
  bool isImage = false;

  static const UTType& html();
  // The type registered for a file name extension (any letter case), among
  // types that conform to "data"; nothing for an unknown extension.
  static std::optional<UTType> fromExtension(std::string_view extension);

  bool operator==(const UTType&) const = default;
};

}  // namespace quarn

#endif  // QUARN_PLATFORM_UTTYPE_H_
