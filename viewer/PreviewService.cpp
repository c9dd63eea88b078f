#include "viewer/PreviewService.h"

#include "quicklook/QuarnPreview/PreviewProvider.h"

namespace quarn {

std::unique_ptr<QLPreviewReply> requestPreview(const std::filesystem::path& file) {
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
