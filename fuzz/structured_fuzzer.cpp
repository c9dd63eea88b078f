// Feeds arbitrary bytes through the property-grid renderer the way the preview
// does: decoded to text first, so the YAML layer only ever sees valid UTF-8.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "quicklook/Shared/PreviewDocument.h"
#include "quicklook/Shared/StructuredRenderer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text = quarn::PreviewDocument::decodeText(
      std::string_view(reinterpret_cast<const char*>(data), size));
  const std::string fragment = quarn::StructuredRenderer::html(text);
  // Never empty: at worst a note.
  if (fragment.empty()) __builtin_trap();
  return 0;
}
