#include "quicklook/Shared/CanvasDocument.h"

namespace quarn {

Rect CanvasElement::box() const {
  Rect r{x, y, width, height};
  if (width < 0) r = Rect{x + width, r.y, -width, r.height};
  if (height < 0) r = Rect{r.x, y + height, r.width, -height};
  return r;
}

const std::set<std::string, std::less<>>& CanvasDocument::fileExtensions() {
  static const std::set<std::string, std::less<>> extensions{"kcv", "qcv"};
  return extensions;
}

Expected<CanvasDocument, CanvasDecodeError> CanvasDocument::decode(std::string_view) {
  return Unexpected(CanvasDecodeError{"not implemented"});
}

std::vector<const CanvasElement*> CanvasDocument::drawableElements() const {
  std::vector<const CanvasElement*> drawable;
  for (const auto& element : elements) {
    if (element.type != "group") drawable.push_back(&element);
  }
  return drawable;
}

std::optional<Rect> CanvasDocument::contentBounds() const { return std::nullopt; }

}  // namespace quarn
