#include "quicklook/QuarnPreview/PreviewProvider.h"

#include "base/Utf8.h"
#include "quicklook/Shared/PreviewDocument.h"

namespace quarn {

void PreviewProvider::providePreview(const QLFilePreviewRequest& request,
                                     const CompletionHandler& handler) {
  if (!PreviewDocument::canRender(request.fileURL)) {
    handler(nullptr, FileError::withCode(FileError::Code::fileReadUnsupportedScheme));
    return;
  }
  handler(replyFor(request.fileURL), std::nullopt);
}

std::unique_ptr<QLPreviewReply> PreviewProvider::replyFor(const std::filesystem::path& file) {
  auto createData = [file](QLPreviewReply& reply) -> Expected<std::string, FileError> {
    auto preview = PreviewDocument::render(file);
    if (!preview) return Unexpected(preview.error());
    reply.stringEncoding = StringEncoding::utf8;
    reply.title = PreviewDocument::title(file);
    QLPreviewReplyAttachments attachments;
    for (auto& [name, attachment] : preview->attachments) {
      attachments.emplace(name, QLPreviewReplyAttachment{std::move(attachment.data),
                                                         std::move(attachment.contentType)});
    }
    reply.attachments = std::move(attachments);
    reply.imagesLeftOut = preview->imagesLeftOut;
    // The page goes out as its UTF-8 bytes; one that is not valid UTF-8
    // cannot be handed over without loss.
    if (!utf8::isValid(preview->html)) {
      return Unexpected(FileError::withCode(FileError::Code::fileReadCorruptFile));
    }
    return std::move(preview->html);
  };
  return std::make_unique<QLPreviewReply>(UTType::html(), CGSize{800, 600}, std::move(createData));
}

}  // namespace quarn
