#include "quicklook/QuarnPreview/PreviewService.h"

#include "base/FileUri.h"
#include "base/Text.h"
#include "platform/FileRead.h"
#include "quicklook/QuarnPreview/PreviewProvider.h"

namespace quarn {

std::unique_ptr<QLPreviewReply> requestPreview(const std::filesystem::path& file) {
  if (FileUri::namesFolder(file)) {
    // "d.md/" has no extension to judge; it is a folder (or names nothing),
    // and reading it says which.
    return std::make_unique<QLPreviewReply>(
        UTType::html(), CGSize{800, 600},
        [file](QLPreviewReply&) -> Expected<std::string, FileError> {
          auto bytes = readFile(file);
          if (!bytes) return Unexpected(bytes.error());
          return Unexpected(
              FileError::readFailure(file, std::make_error_code(std::errc::is_a_directory)));
        });
  }
  // The plug-in's extension test stays its own; the desktop's Markdown type
  // also globs these two, and the page renders anything else as a note.
  const std::string extension = text::fileExtension(file);
  if (extension == "markdown" || extension == "mkd") return PreviewProvider::replyFor(file);
  PreviewProvider provider;
  std::unique_ptr<QLPreviewReply> reply;
  provider.providePreview(
      QLFilePreviewRequest{file},
      [&](std::unique_ptr<QLPreviewReply> r, std::optional<FileError>) { reply = std::move(r); });
  return reply;
}

Expected<ShownPreview, FileError> createPreview(QLPreviewReply& reply) {
  auto page = reply.createData();
  if (!page) return Unexpected(page.error());
  return ShownPreview{reply.title, std::move(*page), std::move(reply.attachments)};
}

std::string refusedMessage(const std::filesystem::path& file) {
  return file.string() + ": the file type is not supported";
}

std::string unreadableMessage(const std::filesystem::path& file, const FileError& error) {
  return file.string() + ": " + (error.reason ? error.reason.message() : error.description());
}

}  // namespace quarn
