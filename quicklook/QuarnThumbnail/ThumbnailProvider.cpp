#include "quicklook/QuarnThumbnail/ThumbnailProvider.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

#include "platform/FileRead.h"
#include "quicklook/Shared/CanvasDocument.h"
#include "quicklook/Shared/CanvasRasterizer.h"

namespace quarn {
namespace {

CGSize contextSize(const Rect& bounds, const QLFileThumbnailRequest& request) {
  const CGSize maximum = request.maximumSize;
  const CGSize minimum = request.minimumSize;
  const Rect padded = CanvasRasterizer::paddedBounds(bounds);
  const double paddedWidth = padded.width;
  const double paddedHeight = padded.height;
  const double scale = std::min(maximum.width / paddedWidth, maximum.height / paddedHeight);
  // Content too large to measure keeps the whole maximum; the rasterizer
  // decides what it can draw there.
  if (!std::isfinite(scale) || !(scale > 0)) return maximum;
  const auto side = [](double fitted, double low, double high) {
    return std::min(std::max(std::round(fitted), low), high);
  };
  return CGSize{side(scale * paddedWidth, minimum.width, maximum.width),
                side(scale * paddedHeight, minimum.height, maximum.height)};
}

}  // namespace

void ThumbnailProvider::provideThumbnail(const QLFileThumbnailRequest& request,
                                         const CompletionHandler& handler) {
  if (!CanvasDocument::isCanvasFile(request.fileURL)) {
    handler(nullptr, FileError::withCode(FileError::Code::fileReadUnsupportedScheme));
    return;
  }
  // Read and decode failures are dropped: the service shows its own icon.
  auto bytes = readFile(request.fileURL);
  if (!bytes) {
    handler(nullptr, std::nullopt);
    return;
  }
  // The read leaves spare capacity, so the parser reads the bytes in place.
  auto document = CanvasDocument::decode(*bytes, bytes->capacity() - bytes->size());
  const std::optional<Rect> bounds = document ? document->contentBounds() : std::nullopt;
  if (!bounds) {
    handler(nullptr, std::nullopt);
    return;
  }
  const CGSize size = contextSize(*bounds, request);
  auto routine = [canvas = std::move(*document), size] {
    return CanvasRasterizer::draw(canvas, size);
  };
  handler(QLThumbnailReply::replyWithContextSize(size, std::move(routine)), std::nullopt);
}

}  // namespace quarn
