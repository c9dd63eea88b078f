// Where a file becomes a preview page: the extension test, the choice of a
// renderer by extension, and the finished page with the images it carries.
// Stateless; the only failure is a file that cannot be read.
#ifndef QUARN_QUICKLOOK_SHARED_PREVIEWDOCUMENT_H_
#define QUARN_QUICKLOOK_SHARED_PREVIEWDOCUMENT_H_

#include <cstddef>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "base/Expected.h"
#include "base/SharedBytes.h"
#include "platform/FileError.h"
#include "platform/QuickLookPreview.h"
#include "platform/UTType.h"

namespace quarn {

struct Attachment {
  SharedBytes data;  // one buffer for every element that names the same file
  UTType contentType;
  bool operator==(const Attachment&) const = default;
};

using Attachments = std::map<std::string, Attachment>;

// The bounds that keep a page's pictures in memory: one picture file, and all
// the pictures of one page counted per element (each output carries a picture
// once per element that shows it). Pictures past them are left out of the page.
inline constexpr std::size_t kMaxImageBytes = 64 * 1024 * 1024;
inline constexpr std::size_t kMaxPageImageBytes = 256 * 1024 * 1024;

struct RenderedPreview {
  std::string html;  // the complete page
  Attachments attachments;
  ImagesLeftOut imagesLeftOut;
};

struct FrontmatterSplit {
  std::optional<std::string> frontmatter;  // exact text between the fences
  std::string body;
};

struct AttachedImages {
  std::string html;
  Attachments attachments;
  ImagesLeftOut imagesLeftOut;
};

namespace PreviewDocument {

// The page and reply title of `file`: its file name, unchanged but for bytes
// that are not UTF-8 (a name in another encoding), each shown as U+FFFD.
std::string title(const std::filesystem::path& file);

// True for the extensions the preview accepts: kcv, qcv, md, json, yaml, yml
// (any letter case). Reads nothing.
bool canRender(const std::filesystem::path& file);

// Reads `file` whole and renders it by extension: canvas as SVG, json/yaml/yml
// as the property grid, anything else as a Markdown note. Fails only with the
// read error; trouble in the contents becomes a note in the page.
Expected<RenderedPreview, FileError> render(const std::filesystem::path& file);

// Text from a file's bytes: UTF-8 (a leading byte-order mark dropped), else Latin-1.
std::string decodeText(std::string_view bytes);
// The same, taking the bytes over: valid UTF-8 is returned without a copy.
std::string decodeText(std::string&& bytes);

// Cuts a leading ---/--- (or ---/...) front matter block off a note's text.
// Never fails: without a recognisable block the whole text is the body.
FrontmatterSplit splitFrontmatter(std::string_view text);

// Rewrites the local images of a note's HTML into cid: references and reads
// their bytes, each file once however many elements name it; images that
// cannot be served are removed, and paragraphs left empty with them. Images
// past kMaxImageBytes or kMaxPageImageBytes are removed too, and counted. Reads files relative to
// the folder of `noteFile`; an address is resolved by its text first, as a URL is ("." and "dir/.."
// are removed, ".." at the root stays there), so a missing "dir" does not matter.
AttachedImages attachImages(std::string_view html, const std::filesystem::path& noteFile);

// One line for people on the pictures a page left out, e.g. "2 pictures left
// out: over the 256 MiB bound for all pictures of a page"; "" when none were.
std::string imagesLeftOutMessage(const ImagesLeftOut& leftOut);

}  // namespace PreviewDocument
}  // namespace quarn

#endif  // QUARN_QUICKLOOK_SHARED_PREVIEWDOCUMENT_H_
