// libFuzzer target for the canvas road of the preview: arbitrary bytes go
// through the forgiving decoder and, when they decode, the SVG renderer.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "quicklook/Shared/CanvasDocument.h"
#include "quicklook/Shared/CanvasSVGRenderer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  auto document = quarn::CanvasDocument::decode(bytes);
  if (!document) return 0;
  const std::string svg = quarn::CanvasSVGRenderer::svg(*document);
  // Either the note or a whole drawing; anything else is a renderer fault.
  const bool empty = !document->contentBounds().has_value();
  if (empty ? svg != "<p class=\"quarn-empty\">Empty canvas</p>"
            : !(svg.starts_with("<svg ") && svg.ends_with("\n</svg>"))) {
    __builtin_trap();
  }
  return 0;
}
