#include "platform/UTType.h"

#include <array>

#include "base/Text.h"

namespace quarn {
namespace {

struct Registration {
  std::string_view extension;  // lower case
  std::string_view identifier;
  std::string_view mimeType;
  bool isImage;
};

// Our stand-in for the platform's type registry: the images a note may show
// (what browsers display), plus a few common non-image types, so a note's link
// to one of them is known and refused as "not an image".
constexpr std::array<Registration, 21> kRegistry = {{
    {"png", "public.png", "image/png", true},
    {"jpg", "public.jpeg", "image/jpeg", true},
    {"jpeg", "public.jpeg", "image/jpeg", true},
    {"jpe", "public.jpeg", "image/jpeg", true},
    {"gif", "com.compuserve.gif", "image/gif", true},
    {"webp", "org.webmproject.webp", "image/webp", true},
    {"bmp", "com.microsoft.bmp", "image/bmp", true},
    {"tif", "public.tiff", "image/tiff", true},
    {"tiff", "public.tiff", "image/tiff", true},
    {"heic", "public.heic", "image/heic", true},
    {"heif", "public.heif", "image/heif", true},
    {"avif", "public.avif", "image/avif", true},
    {"ico", "com.microsoft.ico", "image/vnd.microsoft.icon", true},
    {"svg", "public.svg-image", "image/svg+xml", true},
    {"html", "public.html", "text/html", false},
    {"htm", "public.html", "text/html", false},
    {"txt", "public.plain-text", "text/plain", false},
    {"md", "net.daringfireball.markdown", "text/markdown", false},
    {"json", "public.json", "application/json", false},
    {"pdf", "com.adobe.pdf", "application/pdf", false},
    {"zip", "public.zip-archive", "application/zip", false},
}};

}  // namespace

const UTType& UTType::html() {
  static const UTType type{"public.html", "text/html", false};
  return type;
}

std::optional<UTType> UTType::fromExtension(std::string_view extension) {
  const std::string lower = text::asciiLowercased(extension);
  for (const Registration& entry : kRegistry) {
    if (entry.extension == lower) {
      return UTType{std::string(entry.identifier), std::string(entry.mimeType), entry.isImage};
    }
  }
  return std::nullopt;
}

}  // namespace quarn
