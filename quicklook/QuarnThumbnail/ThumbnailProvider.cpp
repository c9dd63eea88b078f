#include "quicklook/QuarnThumbnail/ThumbnailProvider.h"

#include <string>
#include <utility>

#include "platform/FileRead.h"
#include "quicklook/Shared/CanvasDocument.h"
#include "quicklook/Shared/CanvasRasterizer.h"

namespace quarn {

namespace {

// The text after the last dot of the file name, lower-cased; so ".kcv" and
// "a.b.KCV" count as canvases, "kcv" and "a.kcv." do not.
std::string lowerCasedExtension(const std::filesystem::path& file) {
  const std::string name = file.filename().string();
  const auto dot = name.rfind('.');
  std::string extension = dot == std::string::npos ? std::string() : name.substr(dot + 1);
  for (char& c : extension) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return extension;
}

}  // namespace

void ThumbnailProvider::provideThumbnail(const QLFileThumbnailRequest& request,
                                         const CompletionHandler& handler) {
  if (!CanvasDocument::fileExtensions().contains(lowerCasedExtension(request.fileURL))) {
    handler(nullptr, FileError::withCode(FileError::Code::fileReadUnsupportedScheme));
    return;
  }
  // Read and decode failures are dropped: the service shows its own icon.
  auto bytes = readFile(request.fileURL);
  if (!bytes) {
    handler(nullptr, std::nullopt);
    return;
  }
  auto document = CanvasDocument::decode(*bytes);
  if (!document || !document->contentBounds()) {
    handler(nullptr, std::nullopt);
    return;
  }
  const CGSize size = request.maximumSize;
  auto routine = [canvas = std::move(*document), size] {
    return CanvasRasterizer::draw(canvas, size);
  };
  handler(QLThumbnailReply::replyWithContextSize(size, std::move(routine)), std::nullopt);
}

}  // namespace quarn
