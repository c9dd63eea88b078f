#include "platform/QuickLookThumbnail.h"

#include <utility>

namespace quarn {

QLThumbnailReply::QLThumbnailReply(CGSize contextSize, DrawingBlock drawingBlock)
    : contextSize_(contextSize), drawingBlock_(std::move(drawingBlock)) {}

std::unique_ptr<QLThumbnailReply> QLThumbnailReply::replyWithContextSize(
    CGSize contextSize, DrawingBlock drawingBlock) {
  return std::unique_ptr<QLThumbnailReply>(
      new QLThumbnailReply(contextSize, std::move(drawingBlock)));
}

bool QLThumbnailReply::draw() const { return drawingBlock_ && drawingBlock_(); }

}  // namespace quarn
