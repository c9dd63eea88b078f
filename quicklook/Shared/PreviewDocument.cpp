#include "quicklook/Shared/PreviewDocument.h"

#include <algorithm>
#include <array>
#include <vector>

#include "base/Regex.h"
#include "platform/FileRead.h"
#include "quicklook/Shared/CanvasDocument.h"
#include "quicklook/Shared/CanvasSVGRenderer.h"
#include "quicklook/Shared/HTML.h"
#include "quicklook/Shared/MarkdownRenderer.h"
#include "quicklook/Shared/StructuredRenderer.h"

namespace quarn::PreviewDocument {
namespace {

constexpr std::array<std::string_view, 4> kOtherExtensions = {"md", "json", "yaml", "yml"};
constexpr std::array<std::string_view, 3> kStructuredExtensions = {"json", "yaml", "yml"};

bool isValidUtf8(std::string_view bytes) {
  const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n) {
    unsigned char c = s[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t len;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      if (c == 0xE0) lo = 0xA0;
      if (c == 0xED) hi = 0x9F;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      if (c == 0xF0) lo = 0x90;
      if (c == 0xF4) hi = 0x8F;
    } else {
      return false;
    }
    if (n - i < len) return false;
    if (s[i + 1] < lo || s[i + 1] > hi) return false;
    for (std::size_t k = 2; k < len; ++k) {
      if (s[i + k] < 0x80 || s[i + k] > 0xBF) return false;
    }
    i += len;
  }
  return true;
}

// Unicode white space and line breaks, as a trim of the front matter sees them.
bool isBlank(std::string_view text) {
  static const std::optional<Regex> blank = Regex::compile("^\\s*$");
  if (!blank) return text.empty();
  return blank->firstMatch(text).has_value();
}

std::string markdownBody(std::string_view text, const std::filesystem::path& file,
                         Attachments& attachments) {
  FrontmatterSplit split = splitFrontmatter(text);
  std::string fragment = MarkdownRenderer::styleWikiLinks(MarkdownRenderer::html(split.body));
  AttachedImages images = attachImages(fragment, file);
  attachments = std::move(images.attachments);
  if (!split.frontmatter || isBlank(*split.frontmatter)) return std::move(images.html);
  std::string body = "<div class=\"quarn-frontmatter\">";
  body += StructuredRenderer::html(*split.frontmatter);
  body += "</div>\n";
  body += images.html;
  return body;
}

}  // namespace

std::string fileExtension(const std::filesystem::path& file) {
  const std::string name = file.filename().string();
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos) return "";
  std::string extension = name.substr(dot + 1);
  std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char c) {
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  });
  return extension;
}

bool canRender(const std::filesystem::path& file) {
  const std::string extension = fileExtension(file);
  if (CanvasDocument::fileExtensions().contains(extension)) return true;
  return std::find(kOtherExtensions.begin(), kOtherExtensions.end(), extension) !=
         kOtherExtensions.end();
}

std::string decodeText(std::string_view bytes) {
  if (isValidUtf8(bytes)) {
    // A leading byte-order mark would hide the note's front matter fence.
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
    return std::string(bytes);
  }
  std::string text;
  text.reserve(bytes.size() + bytes.size() / 4);
  for (unsigned char c : bytes) {
    if (c < 0x80) {
      text.push_back(static_cast<char>(c));
    } else {
      text.push_back(static_cast<char>(0xC0 | (c >> 6)));
      text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return text;
}

Expected<RenderedPreview, FileError> render(const std::filesystem::path& file) {
  auto bytes = readFile(file);
  if (!bytes) return Unexpected(bytes.error());
  const std::string title = file.filename().string();
  const std::string extension = fileExtension(file);

  RenderedPreview preview;
  if (CanvasDocument::fileExtensions().contains(extension)) {
    auto canvas = CanvasDocument::decode(*bytes);
    preview.html = HTML::document(
        title, canvas ? CanvasSVGRenderer::svg(*canvas)
                      : std::string("<p class=\"quarn-empty\">Not a readable canvas</p>"));
  } else if (std::find(kStructuredExtensions.begin(), kStructuredExtensions.end(), extension) !=
             kStructuredExtensions.end()) {
    preview.html = HTML::document(title, StructuredRenderer::html(decodeText(*bytes)));
  } else {
    const std::string text = decodeText(*bytes);
    bytes->clear();
    bytes->shrink_to_fit();
    preview.html = HTML::document(title, markdownBody(text, file, preview.attachments));
  }
  return preview;
}

FrontmatterSplit splitFrontmatter(std::string_view text) {
  return FrontmatterSplit{std::nullopt, std::string(text)};
}

AttachedImages attachImages(std::string_view html, const std::filesystem::path&) {
  return AttachedImages{std::string(html), {}};
}

}  // namespace quarn::PreviewDocument
