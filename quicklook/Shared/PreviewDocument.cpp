#include "quicklook/Shared/PreviewDocument.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>
#include <vector>

#include "base/Regex.h"
#include "base/Text.h"
#include "base/Utf8.h"
#include "base/WhiteSpace.h"
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

struct FrontmatterParts {
  std::optional<std::string_view> frontmatter;
  std::string_view body;
};
FrontmatterParts frontmatterParts(std::string_view text);
AttachedImages attachImagesFrom(std::string& html, std::size_t from,
                                const std::filesystem::path& noteFile);

// The page of a note, with the note's HTML written once, straight into it.
std::string markdownPage(std::string_view title, std::string_view text,
                         const std::filesystem::path& file, AttachedImages& images) {
  const FrontmatterParts split = frontmatterParts(text);
  std::string page;
  HTML::appendDocumentStart(title, page);
  if (split.frontmatter && !isBlank(*split.frontmatter)) {
    page += "<div class=\"quarn-frontmatter\">";
    page += StructuredRenderer::html(*split.frontmatter);
    page += "</div>\n";
  }
  const std::size_t note = page.size();
  MarkdownRenderer::appendStyledHTML(split.body, page, HTML::documentEndSize());
  images = attachImagesFrom(page, note, file);
  HTML::appendDocumentEnd(page);
  return page;
}

}  // namespace

std::string title(const std::filesystem::path& file) {
  // The page must be UTF-8 to be handed over at all; a name that is not would
  // cost the whole preview.
  return utf8::withByteReplacements(file.filename().string());
}

bool canRender(const std::filesystem::path& file) {
  if (CanvasDocument::isCanvasFile(file)) return true;
  const std::string extension = text::fileExtension(file);
  return std::find(kOtherExtensions.begin(), kOtherExtensions.end(), extension) !=
         kOtherExtensions.end();
}

std::string decodeText(std::string_view bytes) {
  if (utf8::isValid(bytes)) {
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

std::string decodeText(std::string&& bytes) {
  if (!utf8::isValid(bytes)) return decodeText(std::string_view(bytes));
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.erase(0, 3);
  return std::move(bytes);
}

Expected<RenderedPreview, FileError> render(const std::filesystem::path& file) {
  auto bytes = readFile(file);
  if (!bytes) return Unexpected(bytes.error());
  const std::string pageTitle = title(file);
  const std::string extension = text::fileExtension(file);

  RenderedPreview preview;
  if (CanvasDocument::isCanvasFile(file)) {
    auto canvas = CanvasDocument::decode(*bytes, bytes->capacity() - bytes->size());
    if (canvas) {
      // The drawing is written straight into the page.
      HTML::appendDocumentStart(pageTitle, preview.html);
      CanvasSVGRenderer::svg(*canvas, preview.html);
      HTML::appendDocumentEnd(preview.html);
    } else {
      preview.html =
          HTML::document(pageTitle, "<p class=\"quarn-empty\">Not a readable canvas</p>");
    }
  } else if (std::find(kStructuredExtensions.begin(), kStructuredExtensions.end(), extension) !=
             kStructuredExtensions.end()) {
    preview.html =
        HTML::document(pageTitle, StructuredRenderer::html(decodeText(std::move(*bytes))));
  } else {
    const std::string text = decodeText(std::move(*bytes));
    AttachedImages images;
    preview.html = markdownPage(pageTitle, text, file, images);
    preview.attachments = std::move(images.attachments);
    preview.imagesLeftOut = images.imagesLeftOut;
  }
  return preview;
}

namespace {

constexpr std::string_view kOpeningFence = "^---[ \\t]*(\\r?\\n)";
constexpr std::string_view kClosingFence = "^(?:---|\\.\\.\\.)[ \\t]*(\\r?\\n|$)";
constexpr std::string_view kImagePattern = "<img src=\"([^\"]+)\"([^>]*)>";
constexpr std::string_view kImageStart = "<img src=\"";
constexpr std::array<std::string_view, 4> kSkippedSources = {"http://", "https://",
                                                             "data:", "cid:"};

// The address as the page means it: the Markdown library writes "&" and "'"
// of an address as character references, which a browser would undo too.
std::string unescapeAddress(std::string_view source) {
  std::string address;
  address.reserve(source.size());
  for (std::size_t i = 0; i < source.size();) {
    if (source.substr(i).starts_with("&amp;")) {
      address += '&';
      i += 5;
    } else if (source.substr(i).starts_with("&#x27;")) {
      address += '\'';
      i += 6;
    } else {
      address += source[i++];
    }
  }
  return address;
}

// The file an image address names, resolved against the note's folder by its
// text; nothing for an address that can name no file.
std::optional<std::filesystem::path> imagePath(std::string_view source,
                                               const std::filesystem::path& folder) {
  const std::string address = unescapeAddress(source);
  // An address whose escapes are malformed or decode to bytes that are not
  // UTF-8 is taken as it is written.
  std::optional<std::string> decoded = text::percentDecoded(address);
  const std::string path = decoded && utf8::isValid(*decoded) ? std::move(*decoded) : address;
  // The operating system would cut the path at a NUL, so "x.txt%00.png" would
  // read x.txt as a PNG.
  if (path.empty() || path.find('\0') != std::string::npos) return std::nullopt;
  // Resolved by its text, as an address against the note's folder is: "." and
  // "dir/.." go before the file system is asked, so a missing "dir" does not
  // hide the file, and ".." at the root stays at the root.
  return (path.front() == '/' ? std::filesystem::path(path) : folder / path).lexically_normal();
}

// Why an image element gets no attachment.
enum class Refusal { unservable, overImageBound, overPageBound };

// The image files of one page: each file is read once, however many elements
// name it and by whatever path, and its bytes are shared by all their
// attachments. Every element still counts its file toward the page's bound,
// as every output carries the picture once per element.
class ImageFiles {
 public:
  explicit ImageFiles(std::filesystem::path folder) : folder_(std::move(folder)) {}

  Expected<Attachment, Refusal> attachment(std::string_view source) {
    const std::optional<std::filesystem::path> file = imagePath(source, folder_);
    if (!file) return Unexpected(Refusal::unservable);
    // The type comes from the name before anything is read, so a large file
    // that is no image is never read at all.
    const std::optional<UTType> type = UTType::fromExtension(text::fileExtension(*file));
    if (!type || !type->isImage) return Unexpected(Refusal::unservable);
    // What is left of the bound only shrinks, so a file refused for it once
    // stays refused.
    auto [entry, fresh] = byPath_.try_emplace(file->native(), Unexpected(Refusal::unservable));
    if (fresh) entry->second = read(*file);
    const Expected<SharedBytes, Refusal>& bytes = entry->second;
    if (!bytes) return Unexpected(bytes.error());
    if (bytes->size() > budget_) return Unexpected(Refusal::overPageBound);
    budget_ -= bytes->size();
    return Attachment{*bytes, *type};
  }

 private:
  Expected<SharedBytes, Refusal> read(const std::filesystem::path& file) {
    struct stat info {};
    // readFile refuses FIFOs, devices and folders without blocking; stat
    // only finds the file's identity and size first.
    if (::stat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
      return Unexpected(Refusal::unservable);
    }
    if (static_cast<unsigned long long>(info.st_size) > kMaxImageBytes) {
      return Unexpected(Refusal::overImageBound);
    }
    const std::pair<dev_t, ino_t> identity{info.st_dev, info.st_ino};
    if (const auto known = byIdentity_.find(identity); known != byIdentity_.end()) {
      return known->second;
    }
    if (static_cast<unsigned long long>(info.st_size) > budget_) {
      return Unexpected(Refusal::overPageBound);
    }
    auto bytes = readFile(file, kMaxImageBytes);
    if (!bytes) {
      return Unexpected(bytes.error().reason == std::errc::file_too_large ? Refusal::overImageBound
                                                                          : Refusal::unservable);
    }
    SharedBytes shared(std::move(*bytes));
    byIdentity_.emplace(identity, shared);
    return shared;
  }

  std::filesystem::path folder_;
  std::size_t budget_ = kMaxPageImageBytes;
  std::map<std::string, Expected<SharedBytes, Refusal>, std::less<>> byPath_;
  std::map<std::pair<dev_t, ino_t>, SharedBytes> byIdentity_;
};

// The first `what` in `text` at or after `from`: memmem, which skips ahead
// faster than a search for the first byte in markup full of "<".
std::size_t find(std::string_view text, std::string_view what, std::size_t from) {
  if (from > text.size()) return std::string_view::npos;
  const void* at = ::memmem(text.data() + from, text.size() - from, what.data(), what.size());
  return at ? static_cast<std::size_t>(static_cast<const char*>(at) - text.data())
            : std::string_view::npos;
}

// Removes from `html`, after `from`, the paragraphs that hold nothing but white
// space, in one pass from the front as a regular-expression replacement of
// "<p>\s*</p>" would, but with the Unicode white space of every other blank
// test. In place: the text only shrinks, and is not moved at all when no such
// paragraph is found.
void removeEmptyParagraphs(std::string& html, std::size_t from) {
  const std::string_view text(html);
  std::size_t kept = std::string_view::npos;  // end of the text kept so far, once one is removed
  std::size_t copied = from;
  std::size_t open = from;
  while ((open = find(text, "<p>", open)) != std::string_view::npos) {
    const std::size_t content = open + 3;
    const std::size_t close = content + whiteSpacePrefixLength(text.substr(content));
    if (!text.substr(close).starts_with("</p>")) {
      open = close;  // the white space holds no "<", so no paragraph starts inside it
      continue;
    }
    if (kept == std::string_view::npos) {
      kept = open;
    } else {
      std::memmove(html.data() + kept, text.data() + copied, open - copied);
      kept += open - copied;
    }
    copied = close + 4;
    open = copied;
  }
  if (kept == std::string_view::npos) return;
  std::memmove(html.data() + kept, text.data() + copied, text.size() - copied);
  html.resize(kept + text.size() - copied);
}

// The fence positions of a note's front matter, as views into `text`.
FrontmatterParts frontmatterParts(std::string_view text) {
  const FrontmatterParts whole{std::nullopt, text};
  // The fence is anchored at the start: most notes are settled by their first
  // bytes, without handing the whole text to the regular expressions (which
  // check all of it for UTF-8 first).
  if (!text.starts_with("---")) return whole;
  const auto opening = Regex::compileConstant(kOpeningFence);
  const auto closing = Regex::compileConstant(kClosingFence, Regex::Options::anchorsMatchLines);
  if (!opening || !closing) return whole;
  const std::optional<Match> open =
      opening->firstMatch(text, Range{0, text.size()}, Regex::MatchingOptions::anchored);
  if (!open) return whole;
  const std::size_t start = open->range().end();
  const std::optional<Match> close = closing->firstMatch(text, Range{start, text.size() - start});
  if (!close) return whole;
  return FrontmatterParts{text.substr(start, close->range().location - start),
                          text.substr(close->range().end())};
}

}  // namespace

FrontmatterSplit splitFrontmatter(std::string_view text) {
  const FrontmatterParts parts = frontmatterParts(text);
  FrontmatterSplit split{std::nullopt, std::string(parts.body)};
  if (parts.frontmatter) split.frontmatter = std::string(*parts.frontmatter);
  return split;
}

namespace {

// One replacement of a range of a text.
struct Edit {
  Range range;
  std::string replacement;
};

// Applies `edits` (front to back, not overlapping; ranges counted from
// `from`) to `html` in place. The part from `from` on is first moved right by
// the most it can grow, so that every byte is then written at or before where
// it is read: no second copy of a large text is made.
void applyEdits(std::string& html, std::size_t from, const std::vector<Edit>& edits) {
  std::size_t growth = 0;
  for (const Edit& edit : edits) {
    if (edit.replacement.size() > edit.range.length) {
      growth += edit.replacement.size() - edit.range.length;
    }
  }
  const std::size_t size = html.size();
  html.resize(size + growth);
  char* const text = html.data();
  std::memmove(text + from + growth, text + from, size - from);
  std::size_t read = from + growth;
  std::size_t write = from;
  std::size_t done = from;  // in the unmoved text's positions
  for (const Edit& edit : edits) {
    const std::size_t start = from + edit.range.location;
    std::memmove(text + write, text + read, start - done);
    write += start - done;
    read += start - done + edit.range.length;
    std::memcpy(text + write, edit.replacement.data(), edit.replacement.size());
    write += edit.replacement.size();
    done = start + edit.range.length;
  }
  std::memmove(text + write, text + read, size + growth - read);
  html.resize(write + size + growth - read);
}

// The edits that rewrite or remove the image elements of `html`, with the
// attachments of the rewritten ones and the count of those left out.
std::vector<Edit> imageEdits(std::string_view html, const Regex& image,
                             const std::filesystem::path& noteFile, AttachedImages& images) {
  // Absolute, so that ".." in an address resolves against the real folder
  // even when the note was named by a relative path.
  std::error_code error;
  std::filesystem::path folder = std::filesystem::absolute(noteFile, error).parent_path();
  if (error) folder = noteFile.parent_path();
  ImageFiles files(std::move(folder));
  // Front to back: the same result as editing from the last match to the
  // first, without moving the tail on every edit.
  std::vector<Edit> edits;
  std::size_t number = 0;
  for (const Match& match : image.matches(html)) {
    const std::string name = "quarn-image-" + std::to_string(number++);
    Edit& edit = edits.emplace_back(Edit{match.range(), ""});  // removed unless served
    const Range source = *match.groups[1];
    const std::string_view address = html.substr(source.location, source.length);
    const bool skipped =
        std::any_of(kSkippedSources.begin(), kSkippedSources.end(),
                    [&](std::string_view prefix) { return address.starts_with(prefix); });
    if (skipped) continue;
    Expected<Attachment, Refusal> attachment = files.attachment(address);
    if (!attachment) {
      if (attachment.error() == Refusal::overImageBound) ++images.imagesLeftOut.overImageBound;
      if (attachment.error() == Refusal::overPageBound) ++images.imagesLeftOut.overPageBound;
      continue;
    }
    images.attachments.emplace(name, std::move(*attachment));
    const Range rest = match.groups[2].value_or(Range{source.end() + 1, 0});
    edit.replacement = "<img src=\"cid:";
    edit.replacement += name;
    edit.replacement += '"';
    edit.replacement += html.substr(rest.location, rest.length);
    edit.replacement += '>';
  }
  return edits;
}

// attachImages on the part of `html` from `from` on, in place; the result's
// html is left empty.
AttachedImages attachImagesFrom(std::string& html, std::size_t from,
                                const std::filesystem::path& noteFile) {
  const auto image = Regex::compileConstant(kImagePattern);
  if (!image) return {};
  AttachedImages images;
  // Every match begins with this text, so without it there is nothing to
  // rewrite.
  if (find(html, kImageStart, from) != std::string_view::npos) {
    const std::vector<Edit> edits =
        imageEdits(std::string_view(html).substr(from), *image, noteFile, images);
    applyEdits(html, from, edits);
  }
  removeEmptyParagraphs(html, from);
  return images;
}

}  // namespace

AttachedImages attachImages(std::string_view html, const std::filesystem::path& noteFile) {
  std::string page(html);
  AttachedImages result = attachImagesFrom(page, 0, noteFile);
  result.html = std::move(page);
  return result;
}

std::string imagesLeftOutMessage(const ImagesLeftOut& leftOut) {
  const std::size_t count = leftOut.count();
  if (count == 0) return "";
  const std::string image =
      "over the " + std::to_string(kMaxImageBytes >> 20) + " MiB bound for one picture";
  const std::string page = "over the " + std::to_string(kMaxPageImageBytes >> 20) +
                           " MiB bound for all pictures of a page";
  std::string message =
      std::to_string(count) + (count == 1 ? " picture" : " pictures") + " left out: ";
  if (leftOut.overPageBound == 0) return message + image;
  if (leftOut.overImageBound == 0) return message + page;
  return message + std::to_string(leftOut.overImageBound) + " " + image + ", " +
         std::to_string(leftOut.overPageBound) + " " + page;
}

}  // namespace quarn::PreviewDocument
