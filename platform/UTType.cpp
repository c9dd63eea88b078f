#include "platform/UTType.h"

namespace quarn {

const UTType& UTType::html() {
  static const UTType type{"public.html", "text/html", false};
  return type;
}

std::optional<UTType> UTType::fromExtension(std::string_view) { return std::nullopt; }

}  // namespace quarn
